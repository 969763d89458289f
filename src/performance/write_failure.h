// Why a file cannot be written, as a sentence for the user, for every file the program writes
// (performances, recordings, the practice history).
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

namespace performance {

inline std::string WriteFailureReason(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return "ディスクの空きが足りません。";
        case EFBIG:
            return "ﾌｧｲﾙが大きすぎます。";
        case EACCES:
        case EPERM:
        case EROFS:
            return "書き込みが許されていません。";
        case ENOENT:
        case ENOTDIR:
            return "フォルダがありません。";
        default:
            return std::strerror(error);
    }
}

}  // namespace performance
