#pragma once

#include <exception>

// Where an error of the tool was thrown. Carried for debugging, never shown.
struct ThrowSite {
    const char* file;
    const char* function;
    int line;
};

#define KV_THROW_SITE (ThrowSite{__FILE__, __func__, __LINE__})

// Base of the tool's own error classes that record their throw site.
class ApplicationException : public std::exception {
public:
    explicit ApplicationException(ThrowSite site) : site_(site) {}
    const ThrowSite& site() const noexcept { return site_; }

private:
    ThrowSite site_;
};
