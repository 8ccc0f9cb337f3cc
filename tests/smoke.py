"""A short check that an installed lexaro works: run by tests/python_versions.sh in each fresh venv."""
import pickle
import subprocess
import sys

import lexaro

TEXT = "Smoke test: héllo wörld, 🤖 and <|endoftext|>\n\tdone."

for name in lexaro.list_encoding_names():
    enc = lexaro.get_encoding(name)
    tok = enc.tokenizer
    ids = enc.encode(TEXT, allowed_special="all")
    assert enc.decode(ids) == TEXT, name
    assert ids[-1] != enc.eot_token and enc.eot_token in ids, name
    assert tok.count(TEXT) == len(enc.encode_ordinary(TEXT)) == len(tok.encode_ordinary(TEXT)), name
    assert enc.encode_batch([TEXT, "x"], allowed_special="all") == [ids, enc.encode("x")], name
    assert pickle.loads(pickle.dumps(enc)) is enc and pickle.loads(pickle.dumps(tok)) is tok, name
    stream = lexaro.StreamDecoder(enc)
    assert "".join(stream.feed([i]) for i in ids) + stream.flush() == TEXT, name

# the command line, on this Python too
cmd = subprocess.run([sys.executable, "-m", "lexaro", "count", "-q", "-"], input=TEXT.encode(), capture_output=True)
assert cmd.returncode == 0 and cmd.stdout == f"{lexaro.get_encoding('o200k_base').tokenizer.count(TEXT)}\n".encode()

assert lexaro.get_encoding("cl100k_base").n_vocab == 100277
assert lexaro.encoding_for_model("gpt-4o") is lexaro.get_encoding("o200k_base")
print(f"smoke test passed on Python {sys.version.split()[0]}")
