#include "AtomicFile.h"
#include "VelError.h"
#include "XlsxSheet.h"

#include <QFile>
#include <QRegularExpression>

#include <zip.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

// The workbook is written part by part into a zip archive: the fixed parts as they are, the
// sheet streamed row by row through a ByteSink into its compressed entry.
namespace Present {

using namespace Xlsx;

namespace {

// Excel's own limits on a sheet name.
QString sheetName(const QString &name)
{
    QString s = name;
    s.remove(QRegularExpression(QStringLiteral("[\\[\\]:*?/\\\\]")));
    s = s.left(31).trimmed();
    return s.isEmpty() ? QStringLiteral("Sheet1") : s;
}

constexpr std::string_view kContentTypes =
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/xl/workbook.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
    "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
    "<Override PartName=\"/xl/styles.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
    "</Types>";

constexpr std::string_view kRootRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
    "Target=\"xl/workbook.xml\"/></Relationships>";

constexpr std::string_view kWorkbookRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
    "Target=\"worksheets/sheet1.xml\"/>"
    "<Relationship Id=\"rId2\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
    "Target=\"styles.xml\"/></Relationships>";

// Cell styles: plain, title, header, then one per column kind and row kind (CellStyle()).
// Fonts: regular, title (bold 14), bold. Fills: the two required ones, header, subtotal, total.
// Number formats: 164 is the date; 2 ("0.00") and 4 ("#,##0.00") are built in.
constexpr std::string_view kStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"yyyy-mm-dd\"/></numFmts>"
    "<fonts count=\"3\">"
    "<font><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/><scheme val=\"minor\"/></font>"
    "<font><b/><sz val=\"14\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/><scheme val=\"minor\"/></font>"
    "<font><b/><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/><scheme val=\"minor\"/></font>"
    "</fonts>"
    "<fills count=\"5\">"
    "<fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill>"
    "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFDDE6F0\"/><bgColor indexed=\"64\"/></patternFill></fill>"
    "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFFFF4D6\"/><bgColor indexed=\"64\"/></patternFill></fill>"
    "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFFCE3B0\"/><bgColor indexed=\"64\"/></patternFill></fill>"
    "</fills>"
    "<borders count=\"2\">"
    "<border><left/><right/><top/><bottom/><diagonal/></border>"
    "<border><left style=\"thin\"><color auto=\"1\"/></left><right style=\"thin\"><color auto=\"1\"/></right>"
    "<top style=\"thin\"><color auto=\"1\"/></top><bottom style=\"thin\"><color auto=\"1\"/></bottom><diagonal/></border>"
    "</borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"18\">"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
    "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/>"
    "<xf numFmtId=\"0\" fontId=\"2\" fillId=\"2\" borderId=\"1\" xfId=\"0\" applyFont=\"1\" applyFill=\"1\" "
    "applyBorder=\"1\" applyAlignment=\"1\"><alignment horizontal=\"center\" vertical=\"center\"/></xf>"
#define VEL_XF(fmt, font, fill)                                                                    \
    "<xf numFmtId=\"" #fmt "\" fontId=\"" #font "\" fillId=\"" #fill "\" borderId=\"1\" xfId=\"0\" " \
    "applyNumberFormat=\"1\" applyFont=\"1\" applyFill=\"1\" applyBorder=\"1\"/>"
#define VEL_KIND(fmt) VEL_XF(fmt, 0, 0) VEL_XF(fmt, 2, 3) VEL_XF(fmt, 2, 4)
    // In ColumnKind's order: date, text, quantity, unit price, amount.
    VEL_KIND(164) VEL_KIND(0) VEL_KIND(0) VEL_KIND(2) VEL_KIND(4)
#undef VEL_KIND
#undef VEL_XF
    "</cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>";

struct ZipCloser
{
    void operator()(void *zip) const { zipClose(zip, nullptr); }
};

// The archive on the temporary file; errors name the target.
class Archive
{
public:
    Archive(const QString &file, const QString &shown) : m_shown(shown)
    {
        errno = 0;
        m_zip.reset(zipOpen64(QFile::encodeName(file).constData(), APPEND_STATUS_CREATE));
        if (!m_zip)
            throw failure();
    }

    void Open(const char *name, bool large = false)
    {
        zip_fileinfo info{};
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        info.tmz_date.tm_sec = uInt(local.tm_sec);
        info.tmz_date.tm_min = uInt(local.tm_min);
        info.tmz_date.tm_hour = uInt(local.tm_hour);
        info.tmz_date.tm_mday = uInt(local.tm_mday);
        info.tmz_date.tm_mon = uInt(local.tm_mon);
        info.tmz_date.tm_year = uInt(local.tm_year + 1900);
        errno = 0;
        // The fastest level: several times quicker than the default, the file barely larger.
        if (zipOpenNewFileInZip64(m_zip.get(), name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1,
                                  large ? 1 : 0) != ZIP_OK)
            throw failure();
    }
    void Write(const char *data, size_t size)
    {
        errno = 0;
        if (zipWriteInFileInZip(m_zip.get(), data, unsigned(size)) != ZIP_OK)
            throw failure();
    }
    void Write(std::string_view text) { Write(text.data(), text.size()); }
    void Close()
    {
        errno = 0;
        if (zipCloseFileInZip(m_zip.get()) != ZIP_OK)
            throw failure();
    }
    void Part(const char *name, std::string_view text)
    {
        Open(name);
        Write(kXmlHead);
        Write(text);
        Close();
    }
    void Finish()
    {
        errno = 0;
        if (zipClose(m_zip.release(), nullptr) != ZIP_OK)
            throw failure();
    }

private:
    VelError failure() const
    {
        return VelError(AtomicFile::WriteError(m_shown, errno));
    }

    QString m_shown;
    std::unique_ptr<void, ZipCloser> m_zip;
};

std::string absoluteRef(int column, qint64 row)
{
    return '$' + ColumnName(column) + '$' + std::to_string(row + 1);
}

// Print area, rows repeated on every printed page (title block and header) and the
// autofilter's range, as the workbook names them for its one sheet.
void putDefinedNames(ByteSink &out, const SheetFrame &frame, const QString &sheet)
{
    if (frame.headerRows == 0)
        return;
    QString quoted = sheet;
    quoted.replace(u'\'', QStringLiteral("''"));
    quoted = u'\'' + quoted + QStringLiteral("'!");
    const qint64 last = qMax(frame.lastRow, frame.FilterTop());
    auto name = [&](const char *what, const char *hidden, const std::string &range) {
        out.Put("<definedName name=\"");
        out.Put(what);
        out.Put("\" localSheetId=\"0\"");
        out.Put(hidden);
        out.Put('>');
        PutEscaped(out, quoted);
        out.Put(range);
        out.Put("</definedName>");
    };
    out.Put("<definedNames>");
    name("_xlnm._FilterDatabase", " hidden=\"1\"",
         absoluteRef(0, frame.FilterTop()) + ':' + absoluteRef(frame.lastColumn, last));
    name("_xlnm.Print_Area", "", absoluteRef(0, 0) + ':' + absoluteRef(frame.lastColumn, last));
    name("_xlnm.Print_Titles", "", "$1:$" + std::to_string(frame.top + frame.headerRows));
    out.Put("</definedNames>");
}

} // namespace

void WriteXlsx(const ReportOutput &report, const QString &path, const RowProgress &progress)
{
    AtomicFile target(path);
    const ReportGrid grid(report, true);
    Archive zip(target.TemporaryPath(), path);
    zip.Part("[Content_Types].xml", kContentTypes);
    zip.Part("_rels/.rels", kRootRels);

    QByteArray workbook;
    {
        ByteSink out([&workbook](const char *data, size_t size) { workbook.append(data, qsizetype(size)); });
        out.Put("<workbook xmlns=\"");
        out.Put(kMain);
        out.Put("\" xmlns:r=\"");
        out.Put(kRel);
        out.Put("\"><bookViews><workbookView/></bookViews><sheets><sheet name=\"");
        PutEscaped(out, sheetName(report.Name()));
        out.Put("\" sheetId=\"1\" r:id=\"rId1\"/></sheets>");
        putDefinedNames(out, SheetFrame(report, grid), sheetName(report.Name()));
        out.Put("</workbook>");
        out.Flush();
    }
    zip.Part("xl/workbook.xml", std::string_view(workbook.constData(), size_t(workbook.size())));
    zip.Part("xl/_rels/workbook.xml.rels", kWorkbookRels);
    zip.Part("xl/styles.xml", kStyles);

    // Past 4 GiB the sheet's entry needs the 64-bit zip records; a generous guess per cell.
    const bool large = grid.RowCount() * qMax(grid.ColumnCount(), 1) * 80 > 0xF0000000LL;
    zip.Open("xl/worksheets/sheet1.xml", large);
    {
        ByteSink out([&zip](const char *data, size_t size) { zip.Write(data, size); });
        WriteSheet(report, grid, out, progress);
    }
    zip.Close();
    zip.Finish();
    target.Commit();
}

} // namespace Present
