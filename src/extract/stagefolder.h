// The hidden folder one archive is extracted into before its files are
// moved into place, so archives extracted at once land in list order.
#pragma once

#include <QString>
#include <QStringList>

// What moving a stage folder's files into place did.
struct StageMerge
{
    int landed = 0;     // files and links moved into place
    bool failed = false; // something could not be moved (a folder where a file goes, ...)
    QStringList names;  // the relative paths landed, when asked for
    int kept = 0;       // files left out because the destination held their name
    int renamed = 0;    // files landed under a free name ("name (2).ext")
};

// What becomes of a file whose name the destination already holds (a link
// there counts as such a file and is never followed).
enum class ExistingFile {
    Overwrite, // replaced at once, as a whole
    Skip,      // the file there stays
    Rename,    // the new one lands as "name (2).ext", the next free name
    Newer,     // replaced only when the new one's modification time is later
};

// Makes a new, empty stage folder inside folder (which ends in "/"), named
// ".tenvo-<pid>-s<n>", and returns its path ending in "/"; a null QString
// with errno set when it cannot be made.
QString makeStageFolder(const QString &folder);

// Moves everything in stage into folder: a file or link replaces what has
// its name there, a folder missing there is moved whole, a folder present
// there is merged into. Folders holding no file are left out unless
// keepEmptyFolders. Never follows a link in folder: a link where a folder
// goes is not entered (the entry counts as failed). Then removes stage with
// whatever could not be moved. With wantNames, names holds each path landed.
// existing decides for each file whose name is taken; a file kept or
// landed elsewhere is counted in kept or renamed. Folders merge whatever it
// says.
StageMerge mergeStageFolder(const QString &stage, const QString &folder, bool keepEmptyFolders,
                            bool wantNames = false, ExistingFile existing = ExistingFile::Overwrite);

// Removes from stage, at any depth, what only the systems that made an
// archive want: __MACOSX folders, .DS_Store, Thumbs.db and desktop.ini (those
// two in any case), and each "._name" beside a "name" of the same folder.
void removeJunkFiles(const QString &stage);

// The names directly in stage, each folder's with "/" after it.
QStringList stageEntries(const QString &stage);

// Renames entry (one of stageEntries) inside stage to the free name it would
// have in folder (see freeNameAt) and returns that name, "/" after a
// folder's; "" when it cannot.
QString takeFreeName(const QString &stage, const QString &entry, const QString &folder);

// The free name for name beside the others in the folder open at fd: name
// itself, else "name (2)", "name (3)", ..., the number going before the
// extension of a file ("a (2).txt", ".profile (2)"). Empty when none is
// found. A link counts as taken and is never followed.
QByteArray freeNameAt(int fd, const QByteArray &name, bool isFolder);

// Moves from (in the folder open at fromFd) to to (in toFd) unless to is
// taken: 0, or the errno (EEXIST when taken). Never replaces anything, even
// what appears meanwhile.
int moveNoReplace(int fromFd, const char *from, int toFd, const char *to);

// Removes path and everything under it, following no link.
void removeTree(const QString &path);

// Removes the stage folders in folder left by a process that is gone
// (killed, or the machine lost power); those of a running process stay.
void sweepStaleStageFolders(const QString &folder);
