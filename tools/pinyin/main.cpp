// tellwire-pinyin [--dict PATH]: answers pinyin queries from standard input,
// one per line, with the candidates joined by TAB (an empty line when none).

#include "pinyin/Pinyin.h"
#include "pinyin/Resources.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <iostream>
#include <string>

using tellwire::Pinyin;

namespace {

const char* describe(Pinyin::Status status)
{
    switch (status) {
    case Pinyin::Status::Loaded:
        return "loaded";
    case Pinyin::Status::Missing:
        return "file not found";
    case Pinyin::Status::Unreadable:
        return "file cannot be read";
    case Pinyin::Status::TooLarge:
        return "file larger than 1 GiB";
    case Pinyin::Status::NotUtf8:
        return "file is not valid UTF-8";
    case Pinyin::Status::NoEntries:
        return "no entries after a \"...\" line (LF line ends, word<TAB>code<TAB>weight)";
    }
    return "unknown problem";
}

int usage()
{
    std::cerr << "usage: tellwire-pinyin [--dict PATH]  (queries on standard input, one per line)\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QString path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dict" && i + 1 < argc)
            path = QString::fromLocal8Bit(argv[++i]);
        else if (arg.starts_with("--dict="))
            path = QString::fromLocal8Bit(arg.substr(7));
        else
            return usage();
    }
    if (path.isEmpty())
        path = tellwire::resourcePath(QString::fromLatin1(Pinyin::kResourceName));

    const Pinyin pinyin(path);
    if (!pinyin.ready()) {
        std::cerr << "tellwire-pinyin: dictionary " << path.toLocal8Bit().constData()
                  << " is not usable: " << describe(pinyin.status()) << "\n";
        return 1;
    }

    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const QStringList words = pinyin.candidates(QString::fromUtf8(line.data(), qsizetype(line.size())));
        const QByteArray answer = words.join(QLatin1Char('\t')).toUtf8();
        std::cout.write(answer.constData(), answer.size());
        // One answer per query as it comes, so a program can drive the tool line by line.
        std::cout << '\n' << std::flush;
    }
    return 0;
}
