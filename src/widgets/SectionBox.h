#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace sendova {

// A titled group of settings: the title above a rounded, faintly shaded
// panel that holds the content. Drawn here rather than by the style, whose
// group boxes differ from one desktop to the next (Fusion's is a bare frame
// with the title cut into its line).
class SectionBox : public QWidget
{
    Q_OBJECT

public:
    // spacing: between the rows of the content.
    explicit SectionBox(QWidget *parent = nullptr, int spacing = 8);

    void setTitle(const QString &title);
    QLabel *titleLabel() const { return m_title; }
    // Where the rows go.
    QVBoxLayout *content() const { return m_content; }

private:
    QLabel *m_title = nullptr;
    QVBoxLayout *m_content = nullptr;
};

} // namespace sendova
