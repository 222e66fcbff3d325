#include "ui/SignedInRow.h"

#include "app/App.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace corvane {

SignedInRow::SignedInRow(App *app, QWidget *parent)
    : QWidget(parent)
    , m_app(app)
{
    m_label = new QLabel;
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *signOut = new QPushButton(tr("Sign out"));
    signOut->setFlat(true);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_label, 1);
    row->addWidget(signOut);
    connect(signOut, &QPushButton::clicked, this, [this] { m_app->portal().signOut(); });
}

void SignedInRow::showAccount(bool signedIn)
{
    setVisible(signedIn);
    m_label->setText(signedIn ? tr("Signed in as <b>%1</b>").arg(m_app->portal().email().toHtmlEscaped()) : QString());
}

} // namespace corvane
