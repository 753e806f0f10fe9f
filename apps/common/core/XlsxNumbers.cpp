#include "XlsxNumbers.h"

#include "AtomicFile.h"
#include "VelError.h"

#include <QFile>

#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <string>
#include <string_view>

namespace Present {

namespace {

// Rewrites the text of every "<v>...</v>" that is a number with a fraction or an exponent in
// its shortest form; anything else passes unchanged. Fed in pieces, an element cut at a piece's
// end waits for the next one.
class NumberText
{
public:
    void Feed(std::string_view piece, std::string &out)
    {
        m_buf.append(piece);
        size_t pos = 0;
        for (;;) {
            const size_t open = m_buf.find("<v>", pos);
            if (open == std::string::npos) {
                const size_t keep = std::min<size_t>(2, m_buf.size() - pos);   // may begin a "<v>"
                out.append(m_buf, pos, m_buf.size() - pos - keep);
                pos = m_buf.size() - keep;
                break;
            }
            const size_t close = m_buf.find("</v>", open + 3);
            if (close == std::string::npos) {
                out.append(m_buf, pos, open - pos);
                pos = open;
                break;
            }
            out.append(m_buf, pos, open + 3 - pos);
            shortest(std::string_view(m_buf).substr(open + 3, close - open - 3), out);
            pos = close;
        }
        m_buf.erase(0, pos);
    }

    void Finish(std::string &out)
    {
        out += m_buf;
        m_buf.clear();
    }

private:
    static void shortest(std::string_view text, std::string &out)
    {
        double d = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
        if (ec != std::errc() || end != text.data() + text.size()
            || text.find_first_of(".Ee") == std::string_view::npos) {
            out.append(text);
            return;
        }
        char buffer[32];
        const auto done = std::to_chars(buffer, buffer + sizeof buffer, d);
        for (char *p = buffer; p < done.ptr; ++p)
            out += *p == 'e' ? 'E' : *p;
    }

    std::string m_buf;
};

struct UnzipClose { void operator()(void *f) const { unzClose(f); } };
struct ZipClose { void operator()(void *f) const { zipClose(f, nullptr); } };

} // namespace

void ShortenSheetNumbers(const QString &from, const QString &to, const QString &shownPath)
{
    const auto fail = [&] {
        const int error = errno;
        return VelError(error ? AtomicFile::WriteError(shownPath, error) : QStringLiteral("无法写入文件 %1").arg(shownPath));
    };
    errno = 0;
    std::unique_ptr<void, UnzipClose> in(unzOpen64(QFile::encodeName(from).constData()));
    std::unique_ptr<void, ZipClose> out(zipOpen64(QFile::encodeName(to).constData(), APPEND_STATUS_CREATE));
    if (!in || !out)
        throw fail();
    std::string chunk(1 << 20, '\0'), text;
    for (int more = unzGoToFirstFile(in.get()); more == UNZ_OK; more = unzGoToNextFile(in.get())) {
        unz_file_info64 info{};
        char name[512];
        if (unzGetCurrentFileInfo64(in.get(), &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            throw fail();
        // Sheets are inflated and rewritten; every other part is copied as it is compressed.
        const bool sheet = std::string_view(name).starts_with("xl/worksheets/sheet");
        int method = 0, level = 0;
        zip_fileinfo zi{};
        zi.dosDate = info.dosDate;
        zi.internal_fa = info.internal_fa;
        zi.external_fa = info.external_fa;
        const int zip64 = info.uncompressed_size >= 0xF0000000u ? 1 : 0;
        if (unzOpenCurrentFile2(in.get(), &method, &level, sheet ? 0 : 1) != UNZ_OK
            || zipOpenNewFileInZip2_64(out.get(), name, &zi, nullptr, 0, nullptr, 0, nullptr, method,
                                       sheet ? Z_DEFAULT_COMPRESSION : level, sheet ? 0 : 1, zip64) != ZIP_OK)
            throw fail();
        NumberText numbers;
        int n = 0;
        while ((n = unzReadCurrentFile(in.get(), chunk.data(), unsigned(chunk.size()))) > 0) {
            std::string_view bytes(chunk.data(), size_t(n));
            if (sheet) {
                text.clear();
                numbers.Feed(bytes, text);
                bytes = text;
            }
            if (zipWriteInFileInZip(out.get(), bytes.data(), unsigned(bytes.size())) != ZIP_OK)
                throw fail();
        }
        if (sheet) {
            text.clear();
            numbers.Finish(text);
            if (zipWriteInFileInZip(out.get(), text.data(), unsigned(text.size())) != ZIP_OK)
                throw fail();
        }
        if (n < 0 || unzCloseCurrentFile(in.get()) != UNZ_OK
            || (sheet ? zipCloseFileInZip(out.get()) : zipCloseFileInZipRaw64(out.get(), info.uncompressed_size, info.crc))
                != ZIP_OK)
            throw fail();
    }
    errno = 0;
    if (zipClose(out.release(), nullptr) != ZIP_OK)
        throw fail();
}

} // namespace Present
