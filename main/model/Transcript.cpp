#include "model/Transcript.h"

namespace tellwire {

QString Transcript::id() const
{
    if (utterance)
        return *utterance;
    return QStringLiteral("end-") + QString::number(seq);
}

} // namespace tellwire
