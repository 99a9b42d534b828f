#pragma once

#include <QString>

// What a row of the result list proposes. The row keeps its kind for its whole
// life, whatever its action text later shows ("uploading 40%", "Done", "Fail").
enum class RowKind { Delete, Upload, Overwrite };

// The action text a new row of the kind shows.
inline QString ActionCaption(RowKind kind) {
    switch (kind) {
    case RowKind::Delete:
        return QStringLiteral(" could be deleted");
    case RowKind::Upload:
        return QStringLiteral(" could be uploaded to");
    case RowKind::Overwrite:
        return QStringLiteral(" could be overwriten");
    }
    return {};
}
