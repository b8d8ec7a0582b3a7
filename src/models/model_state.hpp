#pragma once

// The handle semantics the two models share: one owned state object, deep-copied on copy
// (engine included), transferred on move, and refused once moved from.

#include <memory>
#include <stdexcept>
#include <string>

namespace pelorin {

/// A deep copy of a model's state, or nothing for a moved-from model.
template <typename Impl>
std::unique_ptr<Impl> copy_state(const std::unique_ptr<Impl>& state) {
    return state ? std::make_unique<Impl>(*state) : nullptr;
}

/// Copy assignment that builds the copy before giving up the old state, so a failed copy
/// leaves the target as it was; assigning a model to itself changes nothing.
template <typename Impl>
void assign_state(std::unique_ptr<Impl>& target, const std::unique_ptr<Impl>& source) {
    if (&target != &source) {
        std::unique_ptr<Impl> copy = copy_state(source);
        target.swap(copy);
    }
}

/// The state of a model that still holds one; a moved-from model can only be destroyed
/// or assigned to.
template <typename Impl>
Impl& held_state(const std::unique_ptr<Impl>& state, const char* model) {
    if (!state) {
        throw std::logic_error(std::string(model) + ": the model was moved from and holds no state");
    }
    return *state;
}

}  // namespace pelorin
