// The settings file: single values read and written by section and key.
#pragma once

#include <QString>

// A thin object bound to one INI-format file. Section and key names match
// without regard to case; a write replaces a value in place or creates the
// key, the section and the file as needed. Every read goes to the file and
// every write goes to the file at once; nothing is cached. With no file set
// (or an empty path) reads give "", 0 or false and writes touch nothing.
class clsINICtrl
{
public:
    // Binds the object to the file at path (a copy is kept).
    void setFile(const QString &path);
    QString file() const { return m_iniFile; }

    // The stored text, cut to its first 255 bytes; "" when missing.
    QString getString(const QString &section, const QString &key) const;
    // The stored decimal number; 0 when missing, empty or not a number.
    // Numbers beyond 32 bits are clamped to the nearest 32-bit value.
    int getLong(const QString &section, const QString &key) const;
    // True when getLong gives anything but 0.
    bool getBool(const QString &section, const QString &key) const;

    // Writes the value. A refused write (read-only folder, full disk) is
    // silent and leaves the file as it was; so is a write to a file that is
    // there but cannot be read whole (no permission, over 64 MiB, an I/O
    // error), which is never replaced.
    void setString(const QString &section, const QString &key, const QString &value);
    void setLong(const QString &section, const QString &key, int value);
    void setBool(const QString &section, const QString &key, bool value);

private:
    QString m_iniFile;
};
