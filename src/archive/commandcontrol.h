// Progress and stop for the library calls a thread makes.
#pragma once

#include <QString>

// Installed for the calls made on one thread (see Scope). A library that
// offers its optional progress call reports through it and can be stopped;
// a library without that call is called as always, and then neither reports
// nor stops before it has finished.
class CommandControl
{
public:
    virtual ~CommandControl() = default;

    // Bytes of the archive read so far out of total (total 0: unknown).
    // Called on the calling thread while the library works; true asks the
    // library to end the call, leaving no partial file.
    virtual bool progress(quint64 done, quint64 total) = 0;

    // How many decoder processes the call may use at once (the library
    // shares a large archive's entries among them).
    virtual int processes() const { return 1; }

    // What the library said of the call in its output buffer (only a
    // library with the progress call is given one).
    void setMessage(const QString &text) { m_message = text; }
    QString message() const { return m_message; }

    // The control installed on this thread, or null.
    static CommandControl *current();

    // Installs a control for the calls this thread makes while it lives.
    class Scope
    {
    public:
        explicit Scope(CommandControl *control);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        CommandControl *m_previous;
    };

    // The C entry the libraries call back; context is a CommandControl.
    static int report(void *context, unsigned long long done, unsigned long long total);

private:
    QString m_message;
};
