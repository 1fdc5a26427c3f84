#pragma once

#include <boost/exception/exception.hpp>

#include <stdexcept>

namespace kvd::except {

// A failed device lookup with its message. Thrown with BOOST_THROW_EXCEPTION,
// which records the file, function and line of the throw site.
class Runtime : public std::runtime_error, public boost::exception {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kvd::except
