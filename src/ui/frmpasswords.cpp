// The remembered-passwords dialog.
#include "frmpasswords.h"

#include "clsarchive.h"
#include "passwordstore.h"
#include "userdialogs.h"
#include "windowcentre.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// What the user reads.
QString caption() { return QCoreApplication::translate("frmPasswords", " 記憶したパスワード"); }
QString listedText() { return QCoreApplication::translate("frmPasswords", "記憶しているパスワード (新しい順)"); }
QString noneText() { return QCoreApplication::translate("frmPasswords", "記憶しているパスワードはありません"); }
QString noKeyringText() { return QCoreApplication::translate("frmPasswords", "デスクトップのキーリングが動いていないため、\nパスワードを記憶できません"); }
QString removeCaption() { return QCoreApplication::translate("frmPasswords", "削除(&D)"); }
QString closeCaption() { return QCoreApplication::translate("frmPasswords", "閉じる(&C)"); }
QString removeFailedText() { return QCoreApplication::translate("frmPasswords", "パスワードを削除できませんでした"); }

} // namespace

frmPasswords::frmPasswords(PasswordStore &store, QWidget *parent)
    : QDialog(parent)
    , m_store(store)
{
    setObjectName(QStringLiteral("frmPasswords"));
    setWindowTitle(caption());

    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextFormat(Qt::PlainText);

    lstPasswords = new QListWidget(this);
    lstPasswords->setObjectName(QStringLiteral("lstPasswords"));
    lstPasswords->setSelectionMode(QAbstractItemView::SingleSelection);

    cmdRemove = new QPushButton(removeCaption(), this);
    cmdRemove->setObjectName(QStringLiteral("cmdRemove"));
    cmdRemove->setAutoDefault(false);
    connect(cmdRemove, &QPushButton::clicked, this, &frmPasswords::cmdRemove_Click);

    cmdClose = new QPushButton(closeCaption(), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setDefault(true);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);

    connect(lstPasswords, &QListWidget::itemSelectionChanged, this,
            [this] { cmdRemove->setEnabled(!lstPasswords->selectedItems().isEmpty()); });

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdRemove);
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblStatus);
    layout->addWidget(lstPasswords);
    layout->addLayout(buttons);
    resize(320, 260);

    refreshList();
}

void frmPasswords::showFor(QWidget *owner, PasswordStore &store)
{
    frmPasswords dialog(store, owner);
    centreOnScreen(&dialog);
    dialog.exec();
}

QString frmPasswords::maskText()
{
    return QString(8, QChar(0x25CF));
}

void frmPasswords::refreshList()
{
    const int selected = lstPasswords->currentRow();
    lstPasswords->clear();
    const bool available = m_store.available();
    QStringList passwords = available ? m_store.passwords() : QStringList();
    for (qsizetype i = 0; i < passwords.size(); ++i)
        lstPasswords->addItem(maskText());
    for (QString &password : passwords)
        wipeSecret(password);
    lblStatus->setText(!available ? noKeyringText() : lstPasswords->count() == 0 ? noneText() : listedText());
    lstPasswords->setEnabled(lstPasswords->count() > 0);
    if (lstPasswords->count() > 0)
        lstPasswords->setCurrentRow(qBound(0, selected, lstPasswords->count() - 1));
    cmdRemove->setEnabled(lstPasswords->currentRow() >= 0);
}

void frmPasswords::cmdRemove_Click()
{
    const int row = lstPasswords->currentRow();
    if (row < 0)
        return;
    if (!m_store.remove(row))
        userDialogs().exclamation(this, removeFailedText());
    refreshList();
}
