"""The stub file python/lexaro/_lexaro.pyi against the live module: the same members, and for every method
the same parameters, kinds and defaults as the text signature the module exposes, and the same doc text."""
import ast
import inspect
import types
from pathlib import Path

import pytest

from lexaro import _lexaro
from lexaro._lexaro import Tokenizer

STUB = Path(__file__).resolve().parents[2] / "python" / "lexaro" / "_lexaro.pyi"


def stub_class():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    (cls,) = [node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "Tokenizer"]
    return tree, cls


def stub_defs():
    """name -> list of FunctionDef (several for an overloaded method), and the set of property names."""
    _, cls = stub_class()
    methods, properties = {}, set()
    for node in cls.body:
        if not isinstance(node, ast.FunctionDef):
            continue
        decorators = {ast.unparse(d) for d in node.decorator_list}
        if "property" in decorators:
            properties.add(node.name)
        else:
            methods.setdefault(node.name, []).append(node)
    return methods, properties


def stub_parameters(node):
    """(name, default) for each parameter; Parameter.empty where there is no default."""
    args = node.args
    assert not args.posonlyargs and not args.kwonlyargs and args.vararg is None and args.kwarg is None, node.name
    defaults = [inspect.Parameter.empty] * (len(args.args) - len(args.defaults))
    defaults += [ast.literal_eval(d) for d in args.defaults]
    return [(a.arg, d) for a, d in zip(args.args, defaults)]


def live_parameters(signature):
    return [(p.name, p.default) for p in signature.parameters.values()]


def test_module_attributes_are_declared():
    tree, _ = stub_class()
    declared = {node.target.id for node in tree.body if isinstance(node, ast.AnnAssign)}
    declared |= {node.name for node in tree.body if isinstance(node, ast.ClassDef)}
    live = {name for name in vars(_lexaro) if not name.startswith("__")} | {"__version__"}
    assert declared == live


def test_members_match():
    methods, properties = stub_defs()
    live = vars(Tokenizer)
    live_properties = {n for n, v in live.items() if inspect.isgetsetdescriptor(v)}
    live_methods = {n for n, v in live.items() if isinstance(v, types.MethodDescriptorType)}  # not slots like __repr__
    assert properties == live_properties
    assert set(methods) - {"__new__"} == live_methods


@pytest.mark.parametrize("name", sorted(n for n in stub_defs()[0] if not n.startswith("__")))
def test_method_signature_and_doc_match(name):
    live = getattr(Tokenizer, name)
    signature = inspect.signature(live)
    parameters = list(signature.parameters.values())
    # the receiver comes from "$self" in the text signature: positional-only; every other parameter
    # may be given by position or by keyword, as in the stub
    assert parameters[0].kind is inspect.Parameter.POSITIONAL_ONLY
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in parameters[1:])
    overloads = stub_defs()[0][name]
    for node in overloads:
        assert stub_parameters(node) == live_parameters(signature), ast.unparse(node.args)
    docs = [ast.get_docstring(node) for node in overloads if ast.get_docstring(node)]
    assert docs == ([live.__doc__] if live.__doc__ else [])


def test_constructor_signature_matches():
    (node,) = stub_defs()[0]["__new__"]
    assert stub_parameters(node)[1:] == live_parameters(inspect.signature(Tokenizer))


def test_dunder_methods_take_what_the_stub_says():
    t = Tokenizer("cl100k_base")
    methods = stub_defs()[0]
    assert [a.arg for a in methods["__copy__"][0].args.args] == ["self"] and t.__copy__() is t
    assert [a.arg for a in methods["__deepcopy__"][0].args.args] == ["self", "memo"] and t.__deepcopy__({}) is t
    assert [a.arg for a in methods["__reduce__"][0].args.args] == ["self"]
    assert len(t.__reduce__()[1]) == 2
