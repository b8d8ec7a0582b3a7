#pragma once

// Access to private members of standard-library types whose algorithms the models'
// reproducibility rests on (libstdc++'s std::mt19937 and piecewise-linear
// distribution), for the block generator and the faster draws that reproduce them.
// Explicit instantiation is the one place where C++ does not check access, which lets a
// pointer to such a member be named without touching the library's headers:
//
//   struct Words { using type = Member-pointer-type; friend type member(Words); };
//   template struct Grant<Words, &Class::_M_member>;
//   ... object.*member(Words{}) ...
//
// A change of a member's name or type fails to compile rather than draw differently.

namespace pelorin::stream {

template <typename Tag, typename Tag::type Member>
struct Grant {
    friend typename Tag::type member(Tag) { return Member; }
};

}  // namespace pelorin::stream
