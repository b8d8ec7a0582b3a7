"""The module's docstrings, version and stub. As signatures are disabled, stubtest compares no parameters: the
binding library's TypeError listing, the only runtime record of each overload, is checked here against the stub
(names, positional-only ones, defaults) and the docstrings; the types are the type checkers' part (tests/typing)."""

import ast
import hashlib
import importlib.metadata
import pathlib
import re

import pytest

import pelorin

STUB = ast.parse((pathlib.Path(pelorin.__file__).parent / "pelorin-stubs" / "__init__.pyi").read_text())
CLASSES = {node.name: node for node in STUB.body if isinstance(node, ast.ClassDef)}


def private_bases(node):
    for base in node.bases:
        if (name := ast.unparse(base).split("[")[0]).startswith("_"):
            yield from private_bases(CLASSES[name])
            yield CLASSES[name]


def stub_overloads(body, prefix="", is_method=False):
    """{qualified name: [parameters of each overload]}, members of the private bases included; a
    property's accessors as name.fget and name.fset; a positional-only parameter as _."""
    found = {}
    for node in body:
        if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            for owner in [*private_bases(node), node]:
                found |= stub_overloads(owner.body, node.name + ".", True)
        elif isinstance(node, ast.FunctionDef):
            decorators = [ast.unparse(d) for d in node.decorator_list]
            accessor = ".fget" if "property" in decorators else ".fset" if f"{node.name}.setter" in decorators else ""
            arguments = node.args
            positional = [*arguments.posonlyargs, *arguments.args]
            defaults = [None] * (len(positional) - len(arguments.defaults)) + arguments.defaults
            keyword_only = list(zip(arguments.kwonlyargs, arguments.kw_defaults))
            found.setdefault(prefix + node.name + accessor, []).append([
                ("_" if a in arguments.posonlyargs else a.arg) + (f"={ast.unparse(default)}" if default else "")
                for a, default in [*zip(positional, defaults), *keyword_only][is_method:]])
    return found


STUB_OVERLOADS = stub_overloads(STUB.body)
DIGESTS = {  # sha256 of the sorted (name, docstring) pairs, first 10 hex digits
    "pelorin": "2df4cd574b", "Tarvex": "db6a0d56fc", "MultiPMT": "d7a3c7a74b", "TarvexTrigger": "7bd4d7ce5b",
    "MultiPMTTrigger": "4665bce1f4"}


def test_docstrings_keep_their_texts_and_the_version_is_the_distribution_version():
    version = pelorin.__version__
    assert version == importlib.metadata.version("pelorin") and re.fullmatch(r"\d+\.\d+\.\d+", version)
    docs = {"pelorin": {"generate_pe_list": pelorin.generate_pe_list.__doc__}}  # the tools' texts are free
    docs["pelorin"]["EarlyHandling"] = pelorin.EarlyHandling.__doc__  # made by the binding library from the members'
    for cls in (pelorin.Tarvex, pelorin.MultiPMT, pelorin.TarvexTrigger, pelorin.MultiPMTTrigger):
        docs[cls.__name__] = {"": cls.__doc__}
        for name, member in vars(cls).items():
            if not name.startswith("_") or name == "__init__" and type(member).__name__ == "instancemethod":
                # Depending on the interpreter, a static property's class __doc__ may shadow its doc slot.
                docs[cls.__name__][name] = member.__doc__ or property.__dict__["__doc__"].__get__(member)
    assert {group: hashlib.sha256(repr(sorted(texts.items())).encode()).hexdigest()[:10]
            for group, texts in docs.items()} == DIGESTS


@pytest.mark.parametrize("name", STUB_OVERLOADS)
def test_stub_and_docstring_name_the_bound_parameters(name):
    owner, member, accessor = (name.split(".") + ["", ""])[:3]
    # A constructor is reached by calling its class, whose listing has no self.
    is_method = member not in ("", "__init__")
    function = vars(getattr(pelorin, owner))[member] if is_method else getattr(pelorin, owner)
    try:  # the parameters of each overload, from the TypeError of a call that matches none
        (getattr(function, accessor) if accessor else function)(*[object()] * 30)
        listing = ""  # an operator answers NotImplemented
    except TypeError as error:
        listing = str(error)
    bound, names = [], []  # names: as bound, positional-only ones too, for the docstring
    for arguments in re.findall(r"^ +\d+\. [\w.]*\((.*)\)", listing, re.M):
        parameters, named, nameless = [], [], False
        for argument in reversed(re.split(r", (?=\w+: |/|\*)", arguments) if arguments else []):
            if argument == "/":
                nameless = True
                continue
            if argument.startswith("*"):  # **kwargs: the stub's and the docstring's own name
                continue
            parameter, default = re.fullmatch(r"(\w+): .*?(?: = (.*))?", argument).groups()
            default = re.sub(r"<(\w+\.\w+): -?\d+>", r"\1", default or "")  # an enumeration member
            named.insert(0, parameter)
            parameter = "_" if nameless or re.fullmatch(r"arg\d+", parameter) else parameter
            parameters.insert(0, parameter + (default and f"={default}"))
        bound.append(parameters[is_method:])
        names.append(named[is_method:])
    # Operators and pickling support give no listing. A stub may split one bound function
    # into overloads by argument value (a Literal keyword without its default).
    stub = STUB_OVERLOADS[name]
    assert not bound or bound == stub or (len(bound) == 1 and bound[0] in stub and all(
        [p.split("=")[0] for p in overload] == [p.split("=")[0] for p in bound[0]] for overload in stub))
    documented = vars(getattr(pelorin, owner))[member] if member else function
    sections = re.findall(r"\nParameters\n-+\n(.*?)(?:\n\n|$)", documented.__doc__ or "", re.S)
    assert not sections or [re.findall(r"^(\w+) : ", s, re.M) for s in sections] == names
