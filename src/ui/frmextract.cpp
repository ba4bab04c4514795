// The extraction options dialog: destination folder, the options, start.
#include "frmextract.h"

#include "clsarchive.h"
#include "clsinictrl.h"
#include "clslistctrl.h"
#include "folderbox.h"
#include "frmpasswords.h"
#include "frmprogress.h"
#include "globals.h"
#include "nativepath.h"
#include "passwordstore.h"
#include "windowcentre.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <iterator>

namespace {

// What the user reads.
QString caption() { return QCoreApplication::translate("frmExtract", " 解凍"); }
QString extractCaption() { return QCoreApplication::translate("frmExtract", "解凍(&E)"); }
QString cancelCaption() { return QCoreApplication::translate("frmExtract", "キャンセル(&C)"); }
QString folderLabel() { return QCoreApplication::translate("frmExtract", "解凍先フォルダ名"); }
QString passwordsCaption() { return QCoreApplication::translate("frmExtract", "記憶したパスワード(&P)..."); }
QString pickerDescription() { return QCoreApplication::translate("clsFolderBlowserDialog", "解凍先のフォルダを指定してください"); }

const QString optionSection = QStringLiteral("Option");
// How many archives are extracted at once (absent: one per core).
const QString parallelKey = QStringLiteral("Parallel");

struct OptionItem
{
    QString key;
    const char *text; // translated where shown
    bool *global;
    bool underPrevious = false; // shown below the item before it, which it depends on
};

// The items in the order the list shows them.
const OptionItem optionItems[] = {
    {QStringLiteral("deleteFromList"), QT_TRANSLATE_NOOP("frmExtract", "解凍が終了したらリストを新規作成する"),
     &gDeleteFromList},
    {QStringLiteral("makeNameFolder"),
     QT_TRANSLATE_NOOP("frmExtract", "それぞれの書庫ファイル名でフォルダを作成し、そこに解凍する"), &gMakeNameFolder},
    {QStringLiteral("smartFolders"),
     QT_TRANSLATE_NOOP("frmExtract", "中身がフォルダ1つかファイル1つだけの書庫には、フォルダを作成しない"),
     &gSmartFolders, true},
    {QStringLiteral("restoreFolder"),
     QT_TRANSLATE_NOOP("frmExtract", "書庫ファイル内のフォルダ構造を復元する(RAR書庫以外)"), &gRestoreFolder},
    {QStringLiteral("closeDialog"), QT_TRANSLATE_NOOP("frmExtract", "解凍が終了したら自動でダイアログを閉じる"),
     &gCloseDialog},
    {QStringLiteral("skipJunk"),
     QT_TRANSLATE_NOOP("frmExtract", "不要なファイル(__MACOSX、.DS_Store、Thumbs.db など)を解凍しない"), &gSkipJunk},
    {QStringLiteral("nested"), QT_TRANSLATE_NOOP("frmExtract", "書庫の中の書庫も解凍する(3階層まで)"), &gNested},
    {QStringLiteral("openFolder"), QT_TRANSLATE_NOOP("frmExtract", "解凍が終了したら解凍先フォルダを開く"),
     &gOpenFolder},
    {QStringLiteral("trashArchives"), QT_TRANSLATE_NOOP("frmExtract", "すべて解凍できた書庫ファイルをごみ箱に移す"),
     &gTrashArchives},
};

// The settings keys in the order they are read and written, with the value
// of a key the file does not hold.
struct OptionKey
{
    QString name;
    bool *global;
    bool missing = false;
};
const OptionKey optionKeys[] = {
    {QStringLiteral("MakeNameFolder"), &gMakeNameFolder},
    {QStringLiteral("RestoreFolder"), &gRestoreFolder},
    {QStringLiteral("DeleteFromList"), &gDeleteFromList},
    {QStringLiteral("CloseDialog"), &gCloseDialog},
    {QStringLiteral("SmartFolders"), &gSmartFolders},
    {QStringLiteral("SkipJunk"), &gSkipJunk, true},
    {QStringLiteral("Nested"), &gNested},
    {QStringLiteral("OpenFolder"), &gOpenFolder},
    {QStringLiteral("TrashArchives"), &gTrashArchives},
};

// What becomes of a file the destination already holds: the settings value
// and the choice's text, in ExtractOptions::Existing's order.
const QString existingKey = QStringLiteral("Existing");
QString existingLabel() { return QCoreApplication::translate("frmExtract", "同じ名前のファイルがあるとき"); }
struct ExistingChoice
{
    QString value;
    const char *text; // translated where shown
};
const ExistingChoice existingChoices[] = {
    {QStringLiteral("overwrite"), QT_TRANSLATE_NOOP("frmExtract", "上書きする")},
    {QStringLiteral("skip"), QT_TRANSLATE_NOOP("frmExtract", "今あるファイルを残す")},
    {QStringLiteral("rename"), QT_TRANSLATE_NOOP("frmExtract", "名前を変えて両方残す")},
    {QStringLiteral("newer"), QT_TRANSLATE_NOOP("frmExtract", "書庫のファイルが新しいときだけ上書きする")},
};

constexpr int keyRole = Qt::UserRole;

} // namespace

void openFolderInFileManager(const QString &folder)
{
    // The folder's own bytes, so a name that is not UTF-8 opens too.
    QDesktopServices::openUrl(QUrl::fromEncoded("file://" + nativePath(folder).toPercentEncoding("/")));
}

frmExtract::frmExtract(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmExtract"));
    setWindowTitle(caption());

    const FolderBox folderBox = createFolderBox(this);
    Picture1 = folderBox.frame;
    lblFolderPath = folderBox.pathLabel;
    cmdOpenDlg = folderBox.button;
    connect(cmdOpenDlg, &QPushButton::clicked, this, &frmExtract::cmdOpenDlg_Click);

    cmdExtract = new QPushButton(extractCaption(), this);
    cmdExtract->setObjectName(QStringLiteral("cmdExtract"));
    connect(cmdExtract, &QPushButton::clicked, this, &frmExtract::cmdExtract_Click);

    cmdCancel = new QPushButton(cancelCaption(), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(cmdCancel, &QPushButton::clicked, this, &frmExtract::cmdCancel_Click);

    Label2 = new QLabel(folderLabel(), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    placeLabel(Label2, 8, 8, 91, 12);

    list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("list"));
    list->setColumnCount(1);
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    Label1 = new QLabel(folderLabel(), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeLabel(Label1, 8, 64, 91, 12);

    lblExisting = new QLabel(existingLabel(), this);
    lblExisting->setObjectName(QStringLiteral("lblExisting"));
    cboExisting = new QComboBox(this);
    cboExisting->setObjectName(QStringLiteral("cboExisting"));
    for (const ExistingChoice &choice : existingChoices)
        cboExisting->addItem(QCoreApplication::translate("frmExtract", choice.text), choice.value);
    lblExisting->setBuddy(cboExisting);

    cmdPasswords = new QPushButton(passwordsCaption(), this);
    cmdPasswords->setObjectName(QStringLiteral("cmdPasswords"));
    connect(cmdPasswords, &QPushButton::clicked, this, &frmExtract::cmdPasswords_Click);

    setTabOrder(cmdOpenDlg, cmdExtract);
    setTabOrder(cmdExtract, cmdCancel);
    setTabOrder(cmdCancel, list);
    setTabOrder(list, cboExisting);
    setTabOrder(cboExisting, cmdPasswords);

    loadOption();
    QTreeWidgetItem *previous = nullptr;
    for (const OptionItem &option : optionItems) {
        auto *item = option.underPrevious ? new QTreeWidgetItem(previous) : new QTreeWidgetItem(list);
        item->setText(0, QCoreApplication::translate("frmExtract", option.text));
        item->setData(0, keyRole, option.key);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, *option.global ? Qt::Checked : Qt::Unchecked);
        if (!option.underPrevious)
            previous = item;
    }
    list->expandAll();
    showDependentItems();
    cboExisting->setCurrentIndex(gExisting);
    // Connected after filling, so the items' first check marks are not
    // taken for the user's.
    connect(list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item) { list_ItemCheck(item); });
    connect(cboExisting, &QComboBox::currentIndexChanged, this, [](int index) { gExisting = qMax(0, index); });

    layOut();
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
    for (const OptionKey &key : optionKeys) {
        // The four options of old read a missing key as off; a newer one
        // may default to on, and only an absent key (not "0") means default.
        const bool missing = key.missing && gIniCtrl->getString(optionSection, key.name).isEmpty();
        *key.global = missing ? true : gIniCtrl->getBool(optionSection, key.name);
    }
    const QString existing = gIniCtrl->getString(optionSection, existingKey).trimmed();
    gExisting = 0;
    for (int i = 0; i < int(std::size(existingChoices)); ++i) {
        if (existing.compare(existingChoices[i].value, Qt::CaseInsensitive) == 0)
            gExisting = i;
    }
}

void frmExtract::writeOption()
{
    if (!gIniCtrl)
        return;
    for (const OptionKey &key : optionKeys)
        gIniCtrl->setBool(optionSection, key.name, *key.global);
    gIniCtrl->setString(optionSection, existingKey, existingChoices[qBound(0, gExisting, 3)].value);
}

void frmExtract::list_ItemCheck(QTreeWidgetItem *item)
{
    const QString key = item->data(0, keyRole).toString();
    for (const OptionItem &option : optionItems) {
        if (key == option.key) {
            *option.global = item->checkState(0) == Qt::Checked;
            showDependentItems();
            return;
        }
    }
}

void frmExtract::showDependentItems()
{
    // An item below another means nothing while that one is off. Greying
    // it is no check of the user's.
    const QSignalBlocker quiet(list);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = list->topLevelItem(i);
        for (int child = 0; child < item->childCount(); ++child)
            item->child(child)->setDisabled(item->checkState(0) != Qt::Checked);
    }
}

void frmExtract::layOut()
{
    // As wide as the longest option needs at the user's font, and never
    // narrower than the design.
    const QFontMetrics metrics(list->font());
    int textWidth = 0;
    for (const OptionItem &option : optionItems)
        textWidth = qMax(textWidth, metrics.horizontalAdvance(QCoreApplication::translate("frmExtract", option.text))
                                        + (option.underPrevious ? list->indentation() : 0));
    const int listWidth = qMax(409, textWidth + 48);
    const int rows = int(std::size(optionItems));
    const int rowHeight = qMax(18, list->sizeHintForRow(0));
    const int listHeight = rows * rowHeight + 2 * list->frameWidth() + 4;
    const int width = listWidth + 15;

    const int wider = listWidth - 409;
    Picture1->resize(369 + wider, 25);
    lblFolderPath->resize(353 + wider, 17);
    cmdOpenDlg->move(384 + wider, 24);
    list->setGeometry(8, 80, listWidth, listHeight);
    list->setColumnWidth(0, listWidth - 9);
    int top = 80 + listHeight + 10;
    const int comboHeight = qMax(25, cboExisting->sizeHint().height());
    const int labelWidth = qMax(160, lblExisting->sizeHint().width() + 8);
    lblExisting->setGeometry(8, top, labelWidth, comboHeight);
    cboExisting->setGeometry(8 + labelWidth, top, listWidth - labelWidth, comboHeight);
    top += comboHeight + 15;
    const int buttonHeight = qMax(25, cmdExtract->sizeHint().height());
    cmdCancel->setGeometry(width - 8 - 97 - 7, top, 97, buttonHeight);
    cmdExtract->setGeometry(width - 8 - 97 - 7 - 15 - 97, top, 97, buttonHeight);
    cmdPasswords->setGeometry(8, top, qMax(150, cmdPasswords->sizeHint().width()), buttonHeight);
    setFixedSize(width, top + buttonHeight + 11);
}

ExtractOptions frmExtract::extractOptions() const
{
    ExtractOptions options;
    options.destination = m_folderPath;
    options.nameFolders = gMakeNameFolder;
    options.smartFolders = gMakeNameFolder && gSmartFolders;
    options.restorePaths = gRestoreFolder;
    options.skipJunk = gSkipJunk;
    options.nested = gNested;
    options.trashArchives = gTrashArchives;
    options.existing = ExtractOptions::Existing(qBound(0, gExisting, 3));
    options.parallel = ExtractOptions::parallelFor(gIniCtrl ? gIniCtrl->getLong(optionSection, parallelKey) : 0);
    return options;
}

void frmExtract::cmdOpenDlg_Click()
{
    QString path;
    if (!pickFolder(this, pickerDescription(), path))
        return;
    setFolderPath(path);
}

void frmExtract::cmdExtract_Click()
{
    writeOption();
    ExtractOptions options = extractOptions();
    QStringList archives;
    for (int row = 0; gListCtrl && row < gListCtrl->getCount(); ++row) {
        archives.append(gListCtrl->getItem(row));
        // The name encoding chosen in the list for this archive.
        if (const QString encoding = gListCtrl->encoding(row); !encoding.isEmpty())
            options.encodings.insert(archives.constLast(), encoding);
    }
    // The remembered passwords are tried before anyone is asked.
    PasswordStore passwordStore;
    if (passwordStore.available())
        options.passwords = passwordStore.passwords();
    bool stopped = false;
    QStringList retry;
    if (gArchive) {
        frmProgress progress(this);
        progress.setPasswordStore(&passwordStore);
        progress.startJob(*gArchive, archives, options, gCloseDialog);
        if (gOpenFolder) {
            const QString folder = options.destination;
            connect(progress.job(), &ExtractJob::finished, this, [&progress, folder] {
                if (!progress.job()->isStopping())
                    openFolderInFileManager(folder);
            });
        }
        progress.exec();
        stopped = progress.job()->isStopping();
        retry = progress.archivesToRetry();
    }
    wipeSecrets(options.passwords);
    // After a stop the list keeps what is left to do.
    if (gDeleteFromList && !stopped && gListCtrl)
        gListCtrl->clear();
    // The archives to try again come back; those still listed stay once.
    if (gListCtrl) {
        for (const QString &path : retry)
            gListCtrl->addFile(path);
    }
    accept();
}

void frmExtract::cmdPasswords_Click()
{
    PasswordStore store;
    frmPasswords::showFor(this, store);
}

void frmExtract::cmdCancel_Click()
{
    reject();
}
