#pragma once

namespace sendova {

// A C library that the program loads when it first needs it rather than at
// start. Missing, or without a function asked for, it means a broken
// installation: the program says which and ends. It stays loaded for the
// rest of the process.
class SharedLibrary
{
public:
    explicit SharedLibrary(const char *soname);

    template<typename Function>
    void resolve(Function &function, const char *name) const
    {
        function = reinterpret_cast<Function>(symbol(name));
    }

private:
    void *symbol(const char *name) const;

    const char *m_soname;
    void *m_handle;
};

} // namespace sendova
