#include "bindings/binding_guards.hpp"

#include <string>

namespace py = pybind11;

namespace {

[[noreturn]] void ThrowCannotPickle(py::handle self) {
  throw py::type_error(std::string("cannot pickle '") + Py_TYPE(self.ptr())->tp_name + "' object");
}

void RefusePickling(py::handle cls) {
  cls.attr("__reduce_ex__") =
      py::cpp_function([](py::handle self, int /*protocol*/) -> py::object { ThrowCannotPickle(self); },
                       py::is_method(cls), py::name("__reduce_ex__"), py::arg("protocol"));
  cls.attr("__reduce__") = py::cpp_function([](py::handle self) -> py::object { ThrowCannotPickle(self); },
                                            py::is_method(cls), py::name("__reduce__"));
}

void ConstructOnNew(py::handle cls) {
  auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
  newfunc base_new = type->tp_new;  // pybind11's allocator, captured before __new__ is replaced
  cls.attr("__new__") = py::staticmethod(py::cpp_function(
      [type, base_new](py::handle subtype, const py::args& args, const py::kwargs& kwargs) -> py::object {
        auto* sub = reinterpret_cast<PyTypeObject*>(subtype.ptr());
        if (!PyType_Check(subtype.ptr()) || !PyType_IsSubtype(sub, type)) {
          throw py::type_error(std::string(type->tp_name) + ".__new__(X): X is not a subtype of " + type->tp_name);
        }
        auto self = py::reinterpret_steal<py::object>(base_new(sub, args.ptr(), kwargs.ptr()));
        if (!self) throw py::error_already_set();
        // The bound class's own __init__ builds the native value or raises the usual TypeError;
        // the __init__ call that type() makes next finds the value registered and does nothing.
        py::object init = py::handle(reinterpret_cast<PyObject*>(type)).attr("__init__");
        if (sub == type) {
          init(self, *args, **kwargs);
        } else {
          init(self);
        }
        return self;
      },
      py::name("__new__")));
}

// The type a property's getter returns, from the signature line pybind11 writes first in its
// docstring ("(self: Node) -> int").
std::string ReturnedType(const py::object& getter) {
  const std::string doc = py::str(getter.attr("__doc__"));
  const size_t arrow = doc.find(") -> ");
  if (arrow == std::string::npos) return "a value of the property's type";
  const size_t end = doc.find('\n', arrow);
  return doc.substr(arrow + 5, end == std::string::npos ? std::string::npos : end - arrow - 5);
}

// Assigning a value of the wrong type to a property raises TypeError naming the property and
// the type it takes ("Node.id: expected int, got str") instead of pybind11's bare
// "(): incompatible function arguments".
void NameSetterErrors(py::handle cls) {
  const py::object property = py::module_::import("builtins").attr("property");
  const std::string owner = py::str(cls.attr("__name__"));
  const py::dict members(cls.attr("__dict__"));
  for (const auto& item : members) {
    const py::object value = py::reinterpret_borrow<py::object>(item.second);
    if (!py::isinstance(value, property) || value.attr("fset").is_none()) continue;
    const py::object getter = value.attr("fget");
    const py::object setter = value.attr("fset");
    const std::string name = owner + "." + std::string(py::str(item.first));
    const std::string expected = ReturnedType(getter);
    py::cpp_function named(
        [setter, name, expected](py::handle self, py::handle assigned) {
          try {
            setter(self, assigned);
          } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_TypeError) ||
                std::string(e.what()).find("incompatible function arguments") == std::string::npos) {
              throw;
            }
            throw py::type_error(name + ": expected " + expected + ", got " +
                                 std::string(py::str(py::type::handle_of(assigned).attr("__name__"))));
          }
        },
        py::is_method(cls), py::arg("value"));
    py::setattr(cls, item.first, property(getter, named, value.attr("fdel"), value.attr("__doc__")));
  }
}

}  // namespace

void GuardClass(py::handle cls) {
  ConstructOnNew(cls);
  RefusePickling(cls);
  NameSetterErrors(cls);
}

void GuardEnum(py::handle cls) {
  cls.attr("__reduce_ex__") = py::cpp_function(
      [](const py::object& self, int protocol) -> py::object {
        auto type = py::reinterpret_borrow<py::object>(py::type::handle_of(self));
        if (protocol >= 2) {
          // What object.__reduce_ex__ gives: __new__ without arguments, then __setstate__.
          return py::make_tuple(py::module_::import("copyreg").attr("__newobj__"), py::make_tuple(type),
                                self.attr("__getstate__")());
        }
        return py::make_tuple(type, py::make_tuple(py::int_(self)));
      },
      py::is_method(cls), py::name("__reduce_ex__"), py::arg("protocol"));
  cls.attr("__reduce__") = py::cpp_function(
      [](const py::object& self) -> py::object {
        return py::make_tuple(py::type::handle_of(self), py::make_tuple(py::int_(self)));
      },
      py::is_method(cls), py::name("__reduce__"));
}
