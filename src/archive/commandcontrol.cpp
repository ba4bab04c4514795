// Progress and stop for the library calls a thread makes.
#include "commandcontrol.h"

namespace {
// The per-type operations of clsArchive keep their signatures; the control
// travels with the thread that makes the call.
thread_local CommandControl *t_control = nullptr;
} // namespace

CommandControl *CommandControl::current()
{
    return t_control;
}

CommandControl::Scope::Scope(CommandControl *control)
    : m_previous(t_control)
{
    t_control = control;
}

CommandControl::Scope::~Scope()
{
    t_control = m_previous;
}

int CommandControl::report(void *context, unsigned long long done, unsigned long long total)
{
    return static_cast<CommandControl *>(context)->progress(done, total) ? 1 : 0;
}
