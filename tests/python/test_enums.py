"""ObjectiveType and NodeType as pybind11 enum_ types without arithmetic."""

import copy
import copyreg
import operator
import pickle

import pytest

from _kvt_core import NodeType, ObjectiveType

MEMBERS = [
    (ObjectiveType, "MinMax", 0),
    (ObjectiveType, "MinSum", 1),
    (NodeType, "DEPOT", 0),
    (NodeType, "TARGET", 1),
]


@pytest.mark.parametrize("cls,name,number", MEMBERS)
def test_member_value_name_str_repr(cls, name, number):
    member = getattr(cls, name)
    assert member.value == number
    assert member.name == name
    assert int(member) == number
    assert operator.index(member) == number
    assert str(member) == f"{cls.__name__}.{name}"
    assert repr(member) == f"<{cls.__name__}.{name}: {number}>"
    assert hash(member) == number
    assert cls(number) == member
    assert cls(value=number) == member


@pytest.mark.parametrize(
    "cls,expected",
    [
        (ObjectiveType, ["MinMax", "MinSum"]),
        (NodeType, ["DEPOT", "TARGET"]),
    ],
)
def test_members_mapping(cls, expected):
    members = cls.__members__
    assert list(members) == expected
    assert [m.value for m in members.values()] == [0, 1]
    assert all(type(m) is cls for m in members.values())


@pytest.mark.parametrize("number", [7, -1, 2**31 - 1, -(2**31)])
def test_unnamed_values_are_accepted(number):
    obj = ObjectiveType(number)
    assert obj.value == number
    assert obj.name == "???"
    assert str(obj) == "ObjectiveType.???"
    assert repr(obj) == f"<ObjectiveType.???: {number}>"
    assert obj != ObjectiveType.MinMax and obj != ObjectiveType.MinSum
    assert obj == ObjectiveType(number)


@pytest.mark.parametrize("bad", [2**31, -(2**31) - 1, 1.0, "1", None])
def test_construction_refuses_non_int32(bad):
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        ObjectiveType(bad)


def test_equality_only_within_the_same_enumeration():
    assert ObjectiveType.MinSum == ObjectiveType.MinSum
    assert ObjectiveType.MinSum != ObjectiveType.MinMax
    assert not (ObjectiveType.MinSum == 1)
    assert ObjectiveType.MinSum != 1
    assert ObjectiveType.MinSum != NodeType.TARGET
    assert not (NodeType.DEPOT == ObjectiveType.MinMax)
    assert ObjectiveType.MinMax != None  # noqa: E711
    assert {ObjectiveType.MinSum: "a"}[ObjectiveType(1)] == "a"


@pytest.mark.parametrize(
    "op",
    [
        operator.add,
        operator.sub,
        operator.mul,
        operator.and_,
        operator.or_,
        operator.xor,
        operator.lt,
        operator.le,
        operator.gt,
        operator.ge,
    ],
)
def test_no_arithmetic_or_ordering(op):
    with pytest.raises(TypeError):
        op(ObjectiveType.MinSum, ObjectiveType.MinMax)
    with pytest.raises(TypeError):
        op(NodeType.TARGET, 1)


@pytest.mark.parametrize(
    "member", [m for cls, name, _ in MEMBERS for m in [getattr(cls, name)]] + [ObjectiveType(7), NodeType(-3)]
)
@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickling_round_trip(member, protocol):
    restored = pickle.loads(pickle.dumps(member, protocol))
    assert type(restored) is type(member)
    assert restored == member
    assert restored.value == member.value


@pytest.mark.parametrize("member", [ObjectiveType.MinSum, NodeType.DEPOT, ObjectiveType(9)])
def test_copy_and_reduce(member):
    assert member.__getstate__() == member.value
    assert copy.copy(member) == member
    assert copy.deepcopy(member) == member
    # Protocol 2 and above go through __getstate__ / __setstate__.
    newobj, args, state = member.__reduce_ex__(2)
    assert (newobj, args, state) == (copyreg.__newobj__, (type(member),), member.value)
    assert member.__reduce__() == (type(member), (member.value,))


def test_setstate_argument_is_named_state():
    doc = ObjectiveType.__setstate__.__doc__
    assert doc.startswith("__setstate__(self: _kvt_core.ObjectiveType, state: ")
    blank = ObjectiveType.__new__(ObjectiveType)
    blank.__setstate__(7)
    assert blank.value == 7 and blank.name == "???"


def test_value_and_name_are_read_only():
    with pytest.raises(AttributeError):
        ObjectiveType.MinSum.value = 0
    with pytest.raises(AttributeError):
        NodeType.DEPOT.name = "TARGET"
    # A second __setstate__/__init__ on a live member is ignored, never rewrites it.
    ObjectiveType.MinSum.__setstate__(0)
    assert ObjectiveType.MinSum.value == 1
