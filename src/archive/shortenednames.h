// The names an archiver library call landed shortened, read from its output.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One name too long for the file system: the path as the archive stores it
// and the path it landed as, both relative to the destination.
struct ShortenedName
{
    QString stored;
    QString landed;
    bool operator==(const ShortenedName &) const = default;
};

struct ShortenedNames
{
    // How many names the call shortened; more than names holds when the
    // output buffer was too small to list them all.
    int count = 0;
    QList<ShortenedName> names;
};

// Reads the lines a command call writes after its message (see the
// archiver libraries' result.h): "shortened\t<count>" and one
// "shortened\t<stored>\t<landed>" per name. Takes only lines ended by a line
// break, so a cut buffer yields whole names; an output without such lines
// gives none.
ShortenedNames shortenedNames(const QByteArray &output);
