#include "Sha256.h"

#include <QByteArrayView>
#include <QCryptographicHash>

namespace vitalon::analysis {

std::string sha256Hex(std::string_view bytes) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                 QCryptographicHash::Sha256);
    return digest.toHex().toStdString();
}

}  // namespace vitalon::analysis
