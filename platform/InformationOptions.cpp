#include "platform/InformationOptions.h"

#include <cstdio>
#include <cstring>

#include "rules/Version.h"

namespace platform {

namespace {

bool given(int argc, char** argv, std::initializer_list<const char*> names)
{
    for (int i = 1; i < argc; ++i) {
        for (const char* name : names) {
            if (std::strcmp(argv[i], name) == 0)
                return true;
        }
    }
    return false;
}

int print(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

std::optional<int> answerInformationOptions(int argc, char** argv, const QString& program, const QString& usage)
{
    if (given(argc, argv, {"--help", "-h"}))
        return print(usage);
    if (given(argc, argv, {"--version"}))
        return print(program + u' ' + horavo::version() + u'\n');
    return std::nullopt;
}

} // namespace platform
