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
    (r"numpy\.ndarray", "NDArray[numpy.void]"),  # the structured record arrays
    # Container elements and iterators, named before their host classes are registered.
    (r"pelorin::bindings::ElementView<(?:corvane::)?(\w+)>", r"\1"),
    (r"pelorin::bindings::\(anonymous namespace\)::HostIterator<(.*)>$", lambda m: "Iterator[{}]".format(
        {"double": "float", "int": "int", "unsigned short": "int"}.get(m[1], "tuple[int, DoubleVector]"
                                                                     if m[1].startswith("std::pair") else m[1]))),
    (r"pelorin\.|corvane::|collections\.abc\.", ""),
]
# Host lists convert implicitly wherever these containers are parameters.
LIST_CONVERSIONS = {"DoubleVector": "list[float]", "IntVector": "list[int]", "uint16Vector": "list[int]"}


class Unchecked(str):
    """A plain object the function checks itself: the stub may declare any narrower type."""

    def __eq__(self, other):
        return isinstance(other, str)

    __hash__ = str.__hash__


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
    return Unchecked(text) if text in ("object", "typing.Any") else text


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


def stub_overload(definition, is_method, bind):
    arguments = definition.args
    positional = [*arguments.posonlyargs, *arguments.args]
    defaults = [None] * (len(positional) - len(arguments.defaults)) + arguments.defaults
    def text(node):
        return node and bind(ast.unparse(node))

    parameters = [(None if argument in arguments.posonlyargs else argument.arg, text(argument.annotation),
                   text(default)) for argument, default in list(zip(positional, defaults))[is_method:]]
    return parameters, None if definition.name == "__init__" else text(definition.returns)


def binding(mapping):
    """Substitutes type variables (and Self) in annotation text; `X | Never` is X."""
    pattern = re.compile(r"\b(?:" + "|".join(mapping) + r")\b")
    return lambda text: pattern.sub(lambda m: mapping[m[0]], text).replace(" | Never", "")


def stub_members():
    """{qualified name: "attribute", "class" or [(parameters, return type)]}: a property's accessors as
    name.fget and name.fset, members of the private generic bases with their type variables bound."""
    tree = ast.parse(STUB.read_text())
    private_classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    type_variables = [node.targets[0].id for node in tree.body
                      if isinstance(node, ast.Assign) and ast.unparse(node.value).startswith("TypeVar(")]
    members = {}

    def collect(body, prefix, bind):
        for node in body:
            if isinstance(node, ast.AnnAssign):
                members[prefix + node.target.id] = "attribute"
            elif isinstance(node, ast.FunctionDef):
                decorators = [ast.unparse(d) for d in node.decorator_list]
                setter = f"{node.name}.setter" in decorators
                accessor = ".fget" if "property" in decorators else ".fset" if setter else ""
                members.setdefault(prefix + node.name + accessor, []).append(stub_overload(node, bool(prefix), bind))

    def collect_class(node, prefix, bind):
        for base in node.bases:
            if isinstance(base, ast.Subscript) and ast.unparse(base.value) in private_classes:
                # A private generic base: its type variables bound in the order of their definition.
                arguments = base.slice.elts if isinstance(base.slice, ast.Tuple) else [base.slice]
                values = {"Self": bind("Self"), **dict(zip(type_variables, (bind(ast.unparse(a)) for a in arguments)))}
                collect_class(private_classes[base.value.id], prefix, binding(values))
        collect(node.body, prefix, bind)

    for node in tree.body:
        if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            members[node.name] = "class"
            collect_class(node, node.name + ".", binding({"Self": node.name}))
    collect(tree.body, "", lambda text: text)
    return members


def runtime_member(name):
    """The bound function that a stub member names; name.fget and name.fset: a property's accessors."""
    if "." not in name:
        return getattr(pelorin, name)
    owner, member, *accessor = name.split(".")
    value = vars(getattr(pelorin, owner))[member]
    return getattr(value, accessor[0]) if accessor else value


STUB_MEMBERS = stub_members()


def test_version_is_the_distribution_version():
    assert pelorin.__version__ == importlib.metadata.version("pelorin")
    assert re.fullmatch(r"\d+\.\d+\.\d+", pelorin.__version__)


@pytest.mark.parametrize("name", [name for name, stub in STUB_MEMBERS.items() if isinstance(stub, list)])
def test_stub_overloads_match_the_bound_ones(name):
    class_name, _, member = name.partition(".")
    cls = getattr(pelorin, class_name) if member else None
    append = member and vars(cls).get("append")
    iterable_item = append and runtime_overloads(append, True, None)[0][0][0][1]
    # A constructor's listing has no self; it is reached by calling the class.
    constructor = member == "__init__"
    expected = runtime_overloads(cls if constructor else runtime_member(name), bool(member) and not constructor,
                                 iterable_item)
    if expected is None:  # operators and pickling support give no listing
        return
    assert STUB_MEMBERS[name] == expected
