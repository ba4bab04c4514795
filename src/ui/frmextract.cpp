// The extraction options dialog: destination folder, the four options, start.
#include "frmextract.h"

#include "clsarchive.h"
#include "clsinictrl.h"
#include "clslistctrl.h"
#include "folderbox.h"
#include "frmprogress.h"
#include "globals.h"
#include "passwordstore.h"
#include "windowcentre.h"

#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

namespace {

// What the user reads.
const QString caption = QStringLiteral(" 解凍");
const QString extractCaption = QStringLiteral("解凍(&E)");
const QString cancelCaption = QStringLiteral("キャンセル(&C)");
const QString folderLabel = QStringLiteral("解凍先フォルダ名");
const QString pickerDescription = QStringLiteral("解凍先のフォルダを指定してください");

const QString optionSection = QStringLiteral("Option");
// How many archives are extracted at once (absent: one per core).
const QString parallelKey = QStringLiteral("Parallel");

struct OptionItem
{
    QString key;
    QString text;
    bool *global;
};

// The items in the order the list shows them.
const OptionItem optionItems[] = {
    {QStringLiteral("deleteFromList"), QStringLiteral("解凍が終了したらリストを新規作成する"), &gDeleteFromList},
    {QStringLiteral("makeNameFolder"),
     QStringLiteral("それぞれの書庫ファイル名でフォルダを作成し、そこに解凍する"), &gMakeNameFolder},
    {QStringLiteral("restoreFolder"), QStringLiteral("書庫ファイル内のフォルダ構造を復元する(RAR書庫以外)"),
     &gRestoreFolder},
    {QStringLiteral("closeDialog"), QStringLiteral("解凍が終了したら自動でダイアログを閉じる"), &gCloseDialog},
};

// The settings keys in the order they are read and written.
struct OptionKey
{
    QString name;
    bool *global;
};
const OptionKey optionKeys[] = {
    {QStringLiteral("MakeNameFolder"), &gMakeNameFolder},
    {QStringLiteral("RestoreFolder"), &gRestoreFolder},
    {QStringLiteral("DeleteFromList"), &gDeleteFromList},
    {QStringLiteral("CloseDialog"), &gCloseDialog},
};

// The item-check rule's order of comparison.
const OptionItem *const checkOrder[] = {&optionItems[0], &optionItems[2], &optionItems[1], &optionItems[3]};

constexpr int keyRole = Qt::UserRole;

} // namespace

frmExtract::frmExtract(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmExtract"));
    setWindowTitle(caption);
    setFixedSize(424, 228);

    const FolderBox folderBox = createFolderBox(this);
    Picture1 = folderBox.frame;
    lblFolderPath = folderBox.pathLabel;
    cmdOpenDlg = folderBox.button;
    connect(cmdOpenDlg, &QPushButton::clicked, this, &frmExtract::cmdOpenDlg_Click);

    cmdExtract = new QPushButton(extractCaption, this);
    cmdExtract->setObjectName(QStringLiteral("cmdExtract"));
    cmdExtract->setGeometry(200, 192, 97, 25);
    connect(cmdExtract, &QPushButton::clicked, this, &frmExtract::cmdExtract_Click);

    cmdCancel = new QPushButton(cancelCaption, this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(312, 192, 97, 25);
    connect(cmdCancel, &QPushButton::clicked, this, &frmExtract::cmdCancel_Click);

    Label2 = new QLabel(folderLabel, this);
    Label2->setObjectName(QStringLiteral("Label2"));
    placeLabel(Label2, 8, 8, 91, 12);

    list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("list"));
    list->setGeometry(8, 80, 409, 97);
    list->setColumnCount(1);
    list->setColumnWidth(0, 400);
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);

    Label1 = new QLabel(folderLabel, this);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeLabel(Label1, 8, 64, 91, 12);

    setTabOrder(cmdOpenDlg, cmdExtract);
    setTabOrder(cmdExtract, cmdCancel);
    setTabOrder(cmdCancel, list);

    loadOption();
    for (const OptionItem &option : optionItems) {
        auto *item = new QTreeWidgetItem(list);
        item->setText(0, option.text);
        item->setData(0, keyRole, option.key);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, *option.global ? Qt::Checked : Qt::Unchecked);
    }
    // Connected after filling, so the items' first check marks are not
    // taken for the user's.
    connect(list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item) { list_ItemCheck(item); });

    centreOnScreen(this);
}

void frmExtract::setFolderPath(const QString &path)
{
    m_folderPath = path;
    showFolderPath(lblFolderPath, path);
}

void frmExtract::loadOption()
{
    if (!gIniCtrl)
        return;
    for (const OptionKey &key : optionKeys)
        *key.global = gIniCtrl->getBool(optionSection, key.name);
}

void frmExtract::writeOption()
{
    if (!gIniCtrl)
        return;
    for (const OptionKey &key : optionKeys)
        gIniCtrl->setBool(optionSection, key.name, *key.global);
}

void frmExtract::list_ItemCheck(QTreeWidgetItem *item)
{
    const QString key = item->data(0, keyRole).toString();
    for (const OptionItem *option : checkOrder) {
        if (key == option->key) {
            *option->global = item->checkState(0) == Qt::Checked;
            return;
        }
    }
}

void frmExtract::cmdOpenDlg_Click()
{
    QString path;
    if (!pickFolder(this, pickerDescription, path))
        return;
    setFolderPath(path);
}

void frmExtract::cmdExtract_Click()
{
    writeOption();
    ExtractOptions options;
    options.destination = m_folderPath;
    options.nameFolders = gMakeNameFolder;
    options.restorePaths = gRestoreFolder;
    options.parallel = ExtractOptions::parallelFor(gIniCtrl ? gIniCtrl->getLong(optionSection, parallelKey) : 0);
    QStringList archives;
    if (gListCtrl) {
        for (int row = 0; row < gListCtrl->getCount(); ++row)
            archives.append(gListCtrl->getItem(row));
    }
    // The remembered passwords are tried before anyone is asked.
    PasswordStore passwordStore;
    if (passwordStore.available())
        options.passwords = passwordStore.passwords();
    bool stopped = false;
    if (gArchive) {
        frmProgress progress(this);
        progress.setPasswordStore(&passwordStore);
        progress.startJob(*gArchive, archives, options, gCloseDialog);
        progress.exec();
        stopped = progress.job()->isStopping();
    }
    wipeSecrets(options.passwords);
    // After a stop the list keeps what is left to do.
    if (gDeleteFromList && !stopped && gListCtrl)
        gListCtrl->clear();
    accept();
}

void frmExtract::cmdCancel_Click()
{
    reject();
}
