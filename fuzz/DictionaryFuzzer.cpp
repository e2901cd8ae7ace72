// A dictionary file's bytes: loading them from a file and from memory must
// agree, and queries on the result must not fail.
#include "pinyin/DictionaryFile.h"
#include "pinyin/Pinyin.h"

#include <QFile>
#include <QTemporaryFile>

#include <cstdlib>

using tellwire::DictionaryFile;
using tellwire::Pinyin;

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "fuzz_dictionary: %s\n", what);
        std::abort();
    }
}

QString fileHolding(const QByteArray& bytes)
{
    static QTemporaryFile file;
    require(file.isOpen() || file.open(), "cannot open a temporary file");
    require(file.resize(0) && file.seek(0) && file.write(bytes) == bytes.size() && file.flush(),
            "cannot write the temporary file");
    return file.fileName();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const Pinyin fromBytes = Pinyin::fromBytes(bytes);
    const Pinyin fromFile(fileHolding(bytes));
    require(fromBytes.status() == fromFile.status(), "the file and its bytes load differently");
    require(fromBytes.codeCount() == fromFile.codeCount() && fromBytes.wordCount() == fromFile.wordCount(),
            "the file and its bytes hold different entries");
    require(fromBytes.ready() == (fromBytes.status() == Pinyin::Status::Loaded && fromBytes.codeCount() > 0),
            "ready disagrees with the status");

    // Every code of the file, a few codes run together and the raw bytes as queries.
    const DictionaryFile file = DictionaryFile::parse(bytes);
    QStringList queries{QString::fromUtf8(bytes.left(64))};
    QString joined;
    for (const DictionaryFile::Row& row : file.rows()) {
        const QString code = QString::fromUtf8(file.bytes().sliced(row.code.offset, row.code.length));
        queries << code;
        if (joined.size() < 64)
            joined += code;
        if (queries.size() > 32)
            break;
    }
    queries << joined;
    for (const QString& query : queries) {
        const QStringList candidates = fromBytes.candidates(query);
        require(candidates == fromFile.candidates(query), "the file and its bytes answer differently");
        require(candidates.size() <= Pinyin::kMostCandidates, "too many candidates");
        // An empty candidate would type nothing and swallow the composition.
        require(!candidates.contains(QString()), "an empty candidate");
    }
    return 0;
}
