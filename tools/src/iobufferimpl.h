// What the buffer constructors share: the clean-up rule for a failed constructor.
#ifndef ZANTH_SRC_IOBUFFERIMPL_H
#define ZANTH_SRC_IOBUFFERIMPL_H

#include <corewu/errors.h>
#include <zanth/config.h>

namespace ZANTH::detail {

// Runs a constructor's work (a reservation, a commit, a seek). When it raises the
// library's error, the error is counted down, the class's clean-up runs and the
// error is thrown on with ThrowLastError, so it stays the one the caller sees. Any
// other exception is reported and thrown on as well: a constructor that went on
// after it would hand out a half-built buffer.
template <class Work, class CleanUp> void ConstructOrCleanUp(Work&& work, CleanUp&& cleanUp)
{
    try {
        work();
    } catch (TException&) {
        DecrementPendingCount();
        try {
            cleanUp();
        } catch (TException&) {
            // An error of the clean-up is dropped: the constructor's error is the
            // cause and stays on top.
            DecrementPendingCount();
            PopError();
        }
        ThrowLastError();
    } catch (...) {
        ZanthUnhandledException();
        throw;
    }
}

} // namespace ZANTH::detail

#endif // ZANTH_SRC_IOBUFFERIMPL_H
