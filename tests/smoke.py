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


# a sub-interpreter of its own (isolated, with its own interpreter lock from 3.12 on) imports and encodes
try:
    import _interpreters as interpreters  # 3.13
    run = interpreters.exec
except ImportError:
    try:
        import _xxsubinterpreters as interpreters  # 3.10 to 3.12
        run = interpreters.run_string
    except ImportError:
        interpreters = None
if interpreters is not None:
    import tempfile

    with tempfile.TemporaryDirectory() as tmp:
        sub = interpreters.create()
        source = (f"import sys; sys.path[:0] = {sys.path!r}\n"
                  "from lexaro import Tokenizer\n"
                  f"ok = Tokenizer('o200k_base').encode({TEXT!r}, allowed_special='all') == "
                  f"{lexaro.get_encoding('o200k_base').encode(TEXT, allowed_special='all')!r}\n"
                  f"open({tmp + '/ok'!r}, 'w').write(str(ok))\n")
        assert run(sub, source) is None
        interpreters.destroy(sub)
        assert open(tmp + "/ok").read() == "True"
print(f"smoke test passed on Python {sys.version.split()[0]}")
