#pragma once

#include <QWidget>

namespace sendova {

class AppViewModel;
class MenuBarView;

// A plain window around MenuBarView, as wide as the view and as high as its
// content of the moment: what runs the views on their own, before and
// besides the tray.
class MenuBarWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MenuBarWindow(AppViewModel *viewModel, QWidget *parent = nullptr);

    MenuBarView *view() const { return m_view; }

private:
    MenuBarView *m_view = nullptr;
};

} // namespace sendova
