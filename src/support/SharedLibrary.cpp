#include "support/SharedLibrary.h"

#include <QtGlobal>

#include <dlfcn.h>

namespace sendova {

SharedLibrary::SharedLibrary(const char *soname)
    : m_soname(soname), m_handle(::dlopen(soname, RTLD_NOW | RTLD_LOCAL))
{
    if (!m_handle)
        qFatal("cannot load %s: %s", soname, ::dlerror());
}

void *SharedLibrary::symbol(const char *name) const
{
    void *address = ::dlsym(m_handle, name);
    if (!address)
        qFatal("%s lacks %s", m_soname, name);
    return address;
}

} // namespace sendova
