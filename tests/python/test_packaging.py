"""What the wheel ships besides the module: its version and its type stub.

Signatures are disabled on the module, so the only runtime record of each overload
is the binding library's TypeError listing; the stub is checked against it name by
name, parameter by parameter and type by type.
"""

import ast
import importlib.metadata
import pathlib
import re

import pytest

import pelorin

STUB = pathlib.Path(pelorin.__file__).parent / "pelorin-stubs" / "__init__.pyi"

# The binding library's type names and their spelling in the stub.
RUNTIME_TYPES = [
    (r"typing\.SupportsInt(?: \| typing\.SupportsIndex)?", "SupportsIndex"),
    (r"typing\.SupportsFloat(?: \| typing\.SupportsIndex)?", "SupportsFloat"),
    (r"os\.PathLike \| str \| bytes", "_Path"),
    (r"typing\.Annotated\[numpy\.typing\.ArrayLike, numpy\.float64\]", "ArrayLike"),
    (r"<(\w+\.\w+): -?\d+>", r"\1"),  # an enumeration member as a default
    (r"pelorin\.|corvane::|collections\.abc\.", ""),
]
# Host lists convert implicitly wherever these containers are parameters.
LIST_CONVERSIONS = {"DoubleVector": "list[float]", "IntVector": "list[int]", "uint16Vector": "list[int]"}
BINDING_INTERNALS = re.compile(r"__doc__|__module__|__entries|_?_pybind11\w*")
# Records have no constructor: their __init__ only raises, the stub leaves it out.
WITHOUT_CONSTRUCTOR = {"TarvexTrigger.__init__", "MultiPMTTrigger.__init__"}


def split_top_level(text):
    """The comma-separated items of a parameter list, brackets kept whole."""
    parts, depth, start = [], 0, 0
    for i, char in enumerate(text):
        if char in "[(":
            depth += 1
        elif char in "])":
            depth -= 1
        elif char == "," and depth == 0:
            parts.append(text[start:i].strip())
            start = i + 1
    return [*parts, text[start:].strip()] if text.strip() else parts


def to_stub_type(text, iterable_item=None, parameter=False):
    for pattern, spelling in RUNTIME_TYPES:
        text = re.sub(pattern, spelling, text)
    if parameter:
        text = re.sub(r"\b\w+Vector\b",
                      lambda m: f"{m[0]} | {LIST_CONVERSIONS[m[0]]}" if m[0] in LIST_CONVERSIONS else m[0], text)
    if iterable_item:  # a bare Iterable takes the container's element type
        text = re.sub(r"\bIterable\b(?!\[)", f"Iterable[{iterable_item}]", text)
    return text


def runtime_overloads(function, is_method, iterable_item):
    """[(parameters, return type)] from the TypeError of a call that matches no overload, None without one."""
    try:
        function(*[object()] * 30)
        return None  # an operator answers NotImplemented
    except TypeError as error:
        lines = re.findall(r"^ +\d+\. [\w.]*\((.*)\)(?: -> (.*))?$", str(error), re.M)
    overloads = []
    for arguments, returns in lines:
        parameters, positional_only = [], False
        for argument in reversed(split_top_level(arguments)):
            if argument == "/":
                positional_only = True
                continue
            name, _, rest = argument.partition(": ")
            type_text, _, default = rest.partition(" = ")
            nameless = positional_only or re.fullmatch(r"arg\d+", name)
            parameters.insert(0, (None if nameless else name, to_stub_type(type_text, iterable_item, parameter=True),
                                  to_stub_type(default) or None))
        overloads.append((parameters[is_method:], to_stub_type(returns) or None))
    return overloads or None


def stub_overload(definition, is_method):
    arguments = definition.args
    positional = [*arguments.posonlyargs, *arguments.args]
    defaults = [None] * (len(positional) - len(arguments.defaults)) + arguments.defaults
    parameters = [(None if argument in arguments.posonlyargs else argument.arg, ast.unparse(argument.annotation),
                   default and ast.unparse(default))
                  for argument, default in list(zip(positional, defaults))[is_method:]]
    returns = definition.returns and ast.unparse(definition.returns)
    return parameters, None if definition.name == "__init__" else returns


def stub_members():
    """{qualified name: "attribute" or [definitions]}, a property's accessors as name.fget and name.fset."""
    members = {}

    def collect(body, prefix):
        for node in body:
            if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
                members[prefix + node.name] = "class"
                collect(node.body, f"{prefix}{node.name}.")
            elif isinstance(node, ast.AnnAssign):
                members[prefix + node.target.id] = "attribute"
            elif isinstance(node, ast.FunctionDef):
                decorators = [ast.unparse(d) for d in node.decorator_list]
                accessor = ".fget" if "property" in decorators else ".fset" if f"{node.name}.setter" in decorators else ""
                members.setdefault(prefix + node.name + accessor, []).append(node)

    collect(ast.parse(STUB.read_text()).body, "")
    return members


def runtime_members():
    """{qualified name: object}, for the module's public names and every class's own members."""
    members = {name: value for name, value in vars(pelorin).items() if not name.startswith("_")}
    members["__version__"] = pelorin.__version__
    for class_name, cls in [(name, value) for name, value in members.items() if isinstance(value, type)]:
        for name, value in vars(cls).items():
            if BINDING_INTERNALS.fullmatch(name) or f"{class_name}.{name}" in WITHOUT_CONSTRUCTOR:
                continue
            if isinstance(value, property):
                members.update({f"{class_name}.{name}.{accessor}": function for accessor, function
                                in [("fget", value.fget), ("fset", value.fset)] if function is not None})
            else:
                members[f"{class_name}.{name}"] = value
    return members


STUB_MEMBERS, RUNTIME_MEMBERS = stub_members(), runtime_members()


def test_version_is_the_distribution_version():
    assert pelorin.__version__ == importlib.metadata.version("pelorin")
    assert re.fullmatch(r"\d+\.\d+\.\d+", pelorin.__version__)


def test_stub_declares_exactly_the_runtime_names():
    runtime = set()
    for name in RUNTIME_MEMBERS:
        owner, _, accessor = name.rpartition(".")
        # A static property (a class constant) is an attribute in the stub.
        runtime.add(owner if accessor == "fget" and STUB_MEMBERS.get(owner) == "attribute" else name)
    assert sorted(set(STUB_MEMBERS) - runtime) == [] and sorted(runtime - set(STUB_MEMBERS)) == []


@pytest.mark.parametrize("name", [name for name, stub in STUB_MEMBERS.items() if isinstance(stub, list)])
def test_stub_overloads_match_the_bound_ones(name):
    class_name, _, member = name.partition(".")
    cls = getattr(pelorin, class_name) if member else None
    append = member and vars(cls).get("append")
    iterable_item = append and runtime_overloads(append, True, None)[0][0][0][1]
    # A constructor's listing has no self; it is reached by calling the class.
    constructor = member == "__init__"
    expected = runtime_overloads(cls if constructor else RUNTIME_MEMBERS[name], bool(member) and not constructor,
                                 iterable_item)
    if expected is None:  # operators and pickling support give no listing
        return
    assert [stub_overload(definition, bool(member)) for definition in STUB_MEMBERS[name]] == expected
