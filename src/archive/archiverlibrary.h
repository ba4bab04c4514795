// One archiver library file, loaded by name at its first call and kept loaded.
#pragma once

#include <QString>
#include <QStringList>

// Finds the file first in a given folder, then in lib/tenvo beside it (where
// an installed program keeps its libraries), then through the system's
// library search. The library stays loaded for the life of this object's owner
// process (it is never unloaded: code from it may still be referenced).
class ArchiverLibrary
{
public:
    enum class State { NotLoaded, Loaded, Missing, Unusable };

    // fileName: "unlha32.so"; prefix: the calls' common prefix, "Unlha";
    // commandName: the command call ("Unlha", "UnZip", ...).
    ArchiverLibrary(QString fileName, QString prefix);

    // The program folder searched before the system's search path ("" for
    // none); see searchFolders.
    void setFolder(const QString &folder) { m_folder = folder; }
    // The folders searched for a program living in folder, in order: folder
    // itself, then ../lib/tenvo beside it; each ends in "/". None for "".
    static QStringList searchFolders(const QString &folder);

    // Loads the file when not yet tried. Missing: no file of that name was
    // found; Unusable: found but it cannot be loaded.
    State load();
    State state() const { return m_state; }
    // Whether no file of that name can be found. A file in the folders
    // searched first answers without being loaded (a program start then
    // loads only the libraries its archives need).
    bool missing();

    // The version call. Missing file: -1. Found but unusable, or lacking the
    // version call: 0.
    int getVersion();
    // The check call; false when the library or its call cannot be had.
    bool checkArchive(const QString &path, int mode);
    // The command call with no window and no output buffer; the library's
    // result, or libraryUnavailable when the call cannot be made. With a
    // CommandControl installed on the thread and the library's progress
    // call present, that call is made instead, with an output buffer whose
    // text goes to the control.
    int command(const QByteArray &commandLine);

    static constexpr int libraryUnavailable = -3;
    // Room for what a library with the progress call says of a call.
    static constexpr int outputBufferSize = 256 * 1024;

private:
    void *resolve(const char *name);

    QString m_fileName;
    QString m_prefix;
    QString m_folder;
    State m_state = State::NotLoaded;
    void *m_handle = nullptr;
};
