#pragma once

// Host containers: DoubleVector, IntVector, uint16Vector, TarvexTriggerVector,
// MultiPMTTriggerVector and PEListVector, and the record objects taken from them.
//
// Each container is a HostVector<T> that owns a std::vector<T>. The type casters at the
// end let bound functions take and return the std::vector itself: a container argument
// is read in place, a returned vector is moved into a new container.
//
// Records taken from a record container and the times of a PE-list entry are views:
// they name their element by container and slot, and the container stamps every slot
// anew whenever the slot comes to hold another element (removal, replacement, shift,
// clearing). A view checks the stamp on every use, so a view whose element is gone
// raises ReferenceError instead of reading freed memory or another element.
// Reallocation moves no stamp: views follow their element through it.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "corvane/multipmt_trigger.hpp"
#include "corvane/tarvex_trigger.hpp"

namespace py = pybind11;

namespace pelorin::bindings {

using PEEntry = std::pair<int, std::vector<double>>;
using PEList = std::vector<PEEntry>;

template <typename T>
class HostVector;

/// Host names of the containers, by element type.
template <typename T>
constexpr const char* container_name = nullptr;
template <>
inline constexpr const char* container_name<double> = "DoubleVector";
template <>
inline constexpr const char* container_name<int> = "IntVector";
template <>
inline constexpr const char* container_name<std::uint16_t> = "uint16Vector";
template <>
inline constexpr const char* container_name<corvane::TarvexTrigger> = "TarvexTriggerVector";
template <>
inline constexpr const char* container_name<corvane::MultiPMTTrigger> = "MultiPMTTriggerVector";
template <>
inline constexpr const char* container_name<PEEntry> = "PEListVector";

[[noreturn]] void throw_stale(const char* container, std::size_t index);

/// Stamps of the slots of a container whose elements have views. Kept from the first
/// view on; a slot gets a new stamp whenever it comes to hold another element.
class SlotStamps {
public:
    /// Stamp of slot `index` of a container of `size` elements.
    std::uint64_t stamp(std::size_t index, std::size_t size) {
        if (!tracking_) {
            tracking_ = true;
            renew_from(0, size);
        }
        return stamps_[index];
    }

    bool holds(std::size_t index, std::uint64_t stamp) const {
        return index < stamps_.size() && stamps_[index] == stamp;
    }

    /// Slots from `first` on hold other elements now; the container has `size` slots.
    void renew_from(std::size_t first, std::size_t size) {
        if (tracking_) {
            stamps_.resize(size);
            for (std::size_t i = first; i < size; ++i) {
                stamps_[i] = next_++;
            }
        }
    }

    void renew(std::size_t index) {
        if (tracking_) {
            stamps_[index] = next_++;
        }
    }

private:
    std::vector<std::uint64_t> stamps_;
    std::uint64_t next_ = 0;
    bool tracking_ = false;
};

/// Slot `index` of a container as it was when the reference was made; keeps the
/// container alive.
struct SlotRef {
    std::shared_ptr<void> container;  ///< a HostVector<E>
    std::size_t index;
    std::uint64_t stamp;

    /// The element, while the slot still holds it; ReferenceError otherwise.
    template <typename E>
    E& element() const;
};

/// A record taken from a record container; the host classes TarvexTrigger and
/// MultiPMTTrigger. Fields read and write the element inside the container.
template <typename Record>
struct ElementView {
    SlotRef slot;

    Record& get() const { return slot.element<Record>(); }
};

/// Where a vector that is a member of another container's element lives.
template <typename T>
struct MemberRef {
    SlotRef slot;
    std::vector<T>& (*member)(const SlotRef&) = nullptr;
};

template <typename Element, typename T, std::vector<T> Element::*member>
std::vector<T>& member_of(const SlotRef& slot) {
    return slot.element<Element>().*member;
}

/// Native value of a host container: its own elements, or, for the samples of a record
/// and the times of a PE-list entry, a view of a vector inside another container.
template <typename T>
class HostVector : public std::enable_shared_from_this<HostVector<T>> {
public:
    using Items = std::vector<T>;

    HostVector() = default;
    explicit HostVector(Items items) : own_(std::move(items)) {}
    explicit HostVector(MemberRef<T> source) : source_(std::move(source)) {}
    // A host object owns its value through a holder and is never copied; a copy made
    // for the host (copy constructor, slice) is built from items().
    HostVector(const HostVector&) = delete;
    HostVector& operator=(const HostVector&) = delete;
    HostVector(HostVector&&) noexcept = default;
    HostVector& operator=(HostVector&&) noexcept = default;
    ~HostVector() = default;

    Items& items() { return source_.member ? source_.member(source_.slot) : own_; }
    const Items& items() const { return source_.member ? source_.member(source_.slot) : own_; }

    /// A reference to element `index` (< size) that notices when the element goes.
    SlotRef slot(std::size_t index) {
        return {this->shared_from_this(), index, stamps_.stamp(index, items().size())};
    }
    bool holds(std::size_t index, std::uint64_t stamp) const { return stamps_.holds(index, stamp); }

    /// Slots from `first` on hold other elements than before.
    void shifted_from(std::size_t first) { stamps_.renew_from(first, items().size()); }
    void replaced(std::size_t index) { stamps_.renew(index); }

private:
    Items own_;
    SlotStamps stamps_;
    MemberRef<T> source_;
};

template <typename E>
E& SlotRef::element() const {
    auto& owner = *static_cast<HostVector<E>*>(container.get());
    if (!owner.holds(index, stamp)) {
        throw_stale(container_name<E>, index);
    }
    return owner.items()[index];
}

/// pybind11 gives an object made by `__new__` alone raw, unconstructed storage on its
/// first use; failing that allocation makes every use of such an object a TypeError.
template <typename Native>
void refuse_uninitialised() {
    py::detail::get_type_info(typeid(Native))->operator_new = [](std::size_t) -> void* {
        throw py::type_error(std::string(py::detail::get_type_info(typeid(Native))->type->tp_name) +
                             " object holds no value: it was made by __new__ without __init__");
    };
}

template <typename>
struct member_traits;
template <typename Record, typename Field>
struct member_traits<Field Record::*> {
    using record = Record;
    using field = Field;
};

template <typename>
inline constexpr bool is_vector = false;
template <typename T>
inline constexpr bool is_vector<std::vector<T>> = true;

/// Binds a record field as a read-write property; a vector field reads as a view.
template <auto member>
void def_field(py::class_<ElementView<typename member_traits<decltype(member)>::record>>& cls, const char* name,
               const char* doc) {
    using Record = typename member_traits<decltype(member)>::record;
    using Field = typename member_traits<decltype(member)>::field;
    auto set = [](const ElementView<Record>& view, const Field& value) { view.get().*member = value; };
    if constexpr (is_vector<Field>) {
        using T = typename Field::value_type;
        auto get = [](const ElementView<Record>& view) {
            view.get();
            return HostVector<T>(MemberRef<T>{view.slot, &member_of<Record, T, member>});
        };
        cls.def_property(name, get, set, doc);
    } else {
        cls.def_property(
            name, [](const ElementView<Record>& view) { return view.get().*member; }, set, doc);
    }
}

}  // namespace pelorin::bindings

namespace pybind11::detail {

/// A std::vector argument binds to the elements of its host container in place (a host
/// list converts where the container allows it); a returned one is moved into a new
/// container, and one returned by reference is copied into one. The vector lives in the
/// host object, not in the caster, so casts to references are allowed as for bound types.
template <typename T>
struct host_vector_caster : type_caster_base<pelorin::bindings::HostVector<T>> {
    using Vector = std::vector<T>;
    using Host = pelorin::bindings::HostVector<T>;

    operator Vector&() { return static_cast<Host&>(*this).items(); }

    static handle cast(Vector&& values, return_value_policy, handle parent) {
        return make_caster<std::shared_ptr<Host>>::cast(std::make_shared<Host>(std::move(values)),
                                                        return_value_policy::take_ownership, parent);
    }
    static handle cast(const Vector& values, return_value_policy policy, handle parent) {
        return cast(Vector(values), policy, parent);
    }
};

template <>
class type_caster<std::vector<double>> : public host_vector_caster<double> {};
template <>
class type_caster<std::vector<int>> : public host_vector_caster<int> {};
template <>
class type_caster<std::vector<std::uint16_t>> : public host_vector_caster<std::uint16_t> {};
template <>
class type_caster<std::vector<corvane::TarvexTrigger>> : public host_vector_caster<corvane::TarvexTrigger> {};
template <>
class type_caster<std::vector<corvane::MultiPMTTrigger>> : public host_vector_caster<corvane::MultiPMTTrigger> {};
template <>
class type_caster<pelorin::bindings::PEList> : public host_vector_caster<pelorin::bindings::PEEntry> {};

}  // namespace pybind11::detail
