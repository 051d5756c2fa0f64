#include "platform/result.h"

#include <cerrno>

namespace ZELKUtil {

ErrorKind KindOfErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return ErrorKind::NotFound;
        case EACCES:
        case EPERM:
            return ErrorKind::AccessDenied;
        case EBUSY:
            return ErrorKind::InUse;
        case EISDIR:
            return ErrorKind::NotAFile;
        case EILSEQ:
            return ErrorKind::MalformedContent;
        default:
            return ErrorKind::SystemFailure;
    }
}

Error ErrorFromErrno(std::string operation, int err) {
    return Error{KindOfErrno(err), std::move(operation), ErrnoText(err)};
}

}  // namespace ZELKUtil
