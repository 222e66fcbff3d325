#pragma once

#include <QWidget>

class QLabel;

namespace corvane {

class App;

// The dock's one line while signed in: whose account it is, and "Sign out".
class SignedInRow : public QWidget {
    Q_OBJECT
public:
    explicit SignedInRow(App *app, QWidget *parent = nullptr);

    void showAccount(bool signedIn);

private:
    App *m_app;
    QLabel *m_label = nullptr;
};

} // namespace corvane
