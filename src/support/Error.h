#pragma once

#include <QString>

#include <exception>
#include <string>

namespace sendova {

// Base of every failure the program raises itself. The user-facing text is
// produced when asked for, so it follows the language current at that moment;
// the technical rendering is fixed at construction and is what logs carry.
class Error : public std::exception
{
public:
    explicit Error(QString technical) : m_technical(std::move(technical)), m_what(m_technical.toStdString())
    {}

    virtual QString description() const { return m_technical; }
    QString technicalText() const { return m_technical; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    QString m_technical;
    std::string m_what;
};

} // namespace sendova
