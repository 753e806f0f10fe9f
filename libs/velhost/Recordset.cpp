#include "Recordset.h"

#include "VelError.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>

namespace {

qint64 wallClockMsecs(const QDateTime &dt)
{
    return QDateTime(dt.date(), dt.time(), Qt::UTC).toMSecsSinceEpoch();
}

// A cheap hash for the table of recent text values: a collision only costs a second copy.
size_t textHash(const char16_t *s, size_t n)
{
    constexpr uint64_t k = 0xff51afd7ed558ccdULL;
    uint64_t h = n * 0x9e3779b97f4a7c15ULL;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint64_t w;
        std::memcpy(&w, s + i, sizeof w);
        h = (h ^ w) * k;
        h ^= h >> 32;
    }
    uint64_t w = 0;
    std::memcpy(&w, s + i, (n - i) * sizeof(char16_t));
    h = (h ^ w) * k;
    return size_t(h ^ (h >> 29));
}

QDateTime fromWallClockMsecs(qint64 ms)
{
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    return QDateTime(utc.date(), utc.time());
}

} // namespace

struct VELHOST_NO_EXPORT Recordset::Data
{
    // Cells live in fixed blocks of rows, so growing never copies what is stored; only the
    // first block grows geometrically, to keep small record sets small. Rows given up as soon
    // as a host has written them need few blocks at a time: small ones, reused while still in
    // the cache and never faulted in anew.
    static constexpr int blockShift = 16;
    static constexpr int releasedBlockShift = 12;
    template <typename T>
    struct Blocks {
        std::vector<std::vector<T>> blocks;
        std::vector<std::vector<T>> spare;   // released blocks, taken again before new ones
        size_t released = 0;                 // leading blocks given up
        T &at(size_t i, int shift) { return blocks[i >> shift][i & ((size_t(1) << shift) - 1)]; }
        const T &at(size_t i, int shift) const { return blocks[i >> shift][i & ((size_t(1) << shift) - 1)]; }
        void growTo(size_t n, int shift, T fill);
        void release(size_t before, int shift);
        size_t bytes() const;
    };
    // Text lives in chunks of the arena; a value never spans two chunks. A value longer than a
    // chunk is kept on its own and its offset indexes `longTexts`.
    static constexpr int chunkShift = 20;
    static constexpr size_t chunkChars = size_t(1) << chunkShift;
    static constexpr size_t streamChunkChars = size_t(1) << 16;
    struct TextRef { uint32_t offset; uint32_t length; };
    struct RecentText { TextRef ref; uint32_t hash; };
    struct Column {
        QString name;
        FieldType type;
        Blocks<int64_t> ints;           // Integer, DateTime (msecs of the wall-clock time)
        Blocks<double> doubles;         // Double
        Blocks<uint8_t> bools;          // Boolean
        Blocks<TextRef> texts;          // Text
        std::vector<std::u16string> arena;      // Text
        std::vector<std::u16string> longTexts;  // Text longer than a chunk
        std::vector<RecentText> recent; // Text: recently stored values by hash, shared when repeated
        TextRef last{0, UINT32_MAX};    // Text: the value stored last
        std::vector<qint64> chunkLastRow;  // Text: the last row that refers to each chunk
        std::deque<uint32_t> live;         // Text: chunks in use, oldest first; the last is filled
        std::vector<uint32_t> freeChunks;  // Text: released chunks, empty, kept for reuse
        Blocks<uint64_t> nulls;         // one bit per row, set when null
    };

    Column &cell(qint64 row, int field);
    const Column &cell(qint64 row, int field) const;
    Column &column(int field);
    const Column &column(int field) const;
    void growRows(size_t rows);
    void setNullBit(Column &c, qint64 row, bool isNull) const;
    bool nullBit(const Column &c, qint64 row) const;
    static const char16_t *textData(const Column &c, TextRef ref);
    static TextRef storeText(Column &c, const char16_t *chars, size_t length, bool streaming);
    static void releaseChunks(Column &c, qint64 before);

    std::vector<Column> m_columns;
    QHash<QString, int> m_index;   // lower-cased name -> field
    qint64 m_rows = 0;
    qint64 m_released = 0;   // rows before it were given up
    int m_shift = blockShift;   // log2 of the rows a block holds
    size_t m_capacity = 0;   // rows every column has room for
    qint64 m_pos = 0;
    bool m_open = false;
    std::function<void(qint64)> m_watch;
    qint64 m_watchEvery = 0;
    qint64 m_watchAt = std::numeric_limits<qint64>::max();   // the row count that calls the watch next
};

Recordset::Recordset() : d(std::make_unique<Data>()) {}
Recordset::~Recordset() = default;

int Recordset::State() const { return d->m_open ? 1 : 0; }
int Recordset::FieldCount() const { return int(d->m_columns.size()); }
QString Recordset::FieldName(int field) const { return d->m_columns.at(size_t(field)).name; }
Recordset::FieldType Recordset::FieldTypeOf(int field) const { return d->m_columns.at(size_t(field)).type; }
qint64 Recordset::RecordCount() const { return d->m_rows; }
bool Recordset::Eof() const { return !d->m_open || d->m_pos >= d->m_rows; }
bool Recordset::Bof() const { return !d->m_open || d->m_pos < 0 || d->m_rows == 0; }
void Recordset::MoveFirst() { d->m_pos = 0; }
void Recordset::MoveNext() { if (d->m_pos < d->m_rows) ++d->m_pos; }
void Recordset::MoveLast() { d->m_pos = d->m_rows > 0 ? d->m_rows - 1 : 0; }
qint64 Recordset::AbsolutePosition() const { return d->m_pos; }

int Recordset::AddField(const QString &name, FieldType type)
{
    if (d->m_open || d->m_rows > 0)
        throw VelError(QStringLiteral("Fields can only be added to a closed, empty record set"));
    const QString key = name.toLower();
    if (d->m_index.contains(key))
        throw VelError(QStringLiteral("Duplicate field \"%1\"").arg(name));
    Data::Column c;
    c.name = name;
    c.type = type;
    d->m_columns.push_back(std::move(c));
    const int field = int(d->m_columns.size() - 1);
    d->m_index.insert(key, field);
    return field;
}

void Recordset::WatchRows(std::function<void(qint64)> watch, qint64 every)
{
    d->m_watch = std::move(watch);
    d->m_watchEvery = std::max<qint64>(1, every);
    d->m_watchAt = d->m_watch ? (d->m_rows / d->m_watchEvery + 1) * d->m_watchEvery : std::numeric_limits<qint64>::max();
}

namespace {
thread_local const Recordset::RunWatch *t_watch = nullptr;
}

Recordset::WatchScope::WatchScope(RunWatch watch) : m_watch(std::move(watch)), m_previous(t_watch)
{
    t_watch = &m_watch;
}

Recordset::WatchScope::~WatchScope()
{
    t_watch = m_previous;
}

const Recordset::RunWatch *Recordset::ThreadWatch()
{
    return t_watch;
}

void Recordset::Open()
{
    d->m_open = true;
    d->m_pos = 0;
}

void Recordset::Close()
{
    d->m_open = false;
    d->m_columns.clear();
    d->m_index.clear();
    d->m_rows = 0;
    d->m_released = 0;
    d->m_shift = Data::blockShift;
    d->m_capacity = 0;
    d->m_pos = 0;
}

int Recordset::FieldIndex(const QString &name) const
{
    return d->m_index.value(name.toLower(), -1);
}

QStringList Recordset::FieldNames() const
{
    QStringList names;
    for (const Data::Column &c : d->m_columns)
        names << c.name;
    return names;
}

template <typename T>
void Recordset::Data::Blocks<T>::growTo(size_t n, int shift, T fill)
{
    const size_t per = size_t(1) << shift;
    size_t have = blocks.empty() ? 0 : (blocks.size() - 1) * per + blocks.back().size();
    while (have < n) {
        if (blocks.empty() || blocks.back().size() == per) {
            if (!spare.empty()) {
                // A released block is whole and its pages are already mapped.
                blocks.push_back(std::move(spare.back()));
                spare.pop_back();
                std::fill(blocks.back().begin(), blocks.back().end(), fill);
                have += per;
                continue;
            }
            blocks.emplace_back();
            if (blocks.size() > 1)
                blocks.back().reserve(per);
        }
        std::vector<T> &b = blocks.back();
        const size_t add = std::min(per - b.size(), n - have);
        b.resize(b.size() + add, fill);
        have += add;
    }
}

// Blocks whose every entry lies before `before`; the block being filled is kept.
template <typename T>
void Recordset::Data::Blocks<T>::release(size_t before, int shift)
{
    while (released + 1 < blocks.size() && ((released + 1) << shift) <= before) {
        spare.push_back(std::move(blocks[released]));
        blocks[released] = {};
        ++released;
    }
}

template <typename T>
size_t Recordset::Data::Blocks<T>::bytes() const
{
    size_t n = (blocks.capacity() + spare.capacity()) * sizeof(std::vector<T>);
    for (const std::vector<T> &b : blocks)
        n += b.capacity() * sizeof(T);
    for (const std::vector<T> &b : spare)
        n += b.capacity() * sizeof(T);
    return n;
}

// The throws stay out of line, so that the checks below inline into every accessor.
[[noreturn]] [[gnu::cold]] [[gnu::noinline]] static void noField(int field)
{
    throw VelError(QStringLiteral("No field at position %1").arg(field));
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] static void noRow(qint64 row)
{
    throw VelError(QStringLiteral("No row at position %1").arg(row));
}

inline Recordset::Data::Column &Recordset::Data::column(int field)
{
    if (field < 0 || size_t(field) >= m_columns.size())
        noField(field);
    return m_columns[size_t(field)];
}

inline const Recordset::Data::Column &Recordset::Data::column(int field) const
{
    if (field < 0 || size_t(field) >= m_columns.size())
        noField(field);
    return m_columns[size_t(field)];
}

inline Recordset::Data::Column &Recordset::Data::cell(qint64 row, int field)
{
    if (row < m_released || row >= m_rows)
        noRow(row);
    return column(field);
}

inline const Recordset::Data::Column &Recordset::Data::cell(qint64 row, int field) const
{
    if (row < m_released || row >= m_rows)
        noRow(row);
    return column(field);
}

void Recordset::Data::growRows(size_t rows)
{
    if (rows <= m_capacity)
        return;
    const int wordShift = m_shift - 6;
    for (Column &c : m_columns) {
        switch (c.type) {
        case FieldType::Integer:
        case FieldType::DateTime: c.ints.growTo(rows, m_shift, 0); break;
        case FieldType::Double: c.doubles.growTo(rows, m_shift, 0); break;
        case FieldType::Boolean: c.bools.growTo(rows, m_shift, 0); break;
        case FieldType::Text: c.texts.growTo(rows, m_shift, TextRef{0, 0}); break;
        }
        // Rows beyond the last are null until they are set.
        c.nulls.growTo((rows + 63) / 64, wordShift, ~uint64_t(0));
    }
    m_capacity = rows;
}

void Recordset::Reserve(qint64 rows)
{
    if (rows > 0)
        d->growRows(size_t(rows));
}

qint64 Recordset::AddRow()
{
    const qint64 row = d->m_rows;
    if (row == d->m_watchAt) {
        d->m_watchAt += d->m_watchEvery;
        d->m_watch(row);
    }
    if (size_t(row) >= d->m_capacity) {
        // Geometric within the first block, then a block at a time.
        const size_t blockRows = size_t(1) << d->m_shift;
        const size_t rows = d->m_capacity < blockRows ? std::min(std::max<size_t>(64, d->m_capacity * 2), blockRows)
                                                      : d->m_capacity + blockRows;
        d->growRows(rows);
    }
    ++d->m_rows;
    d->m_pos = row;
    return row;
}

inline void Recordset::Data::setNullBit(Column &c, qint64 row, bool isNull) const
{
    const uint64_t bit = uint64_t(1) << (row % 64);
    uint64_t &word = c.nulls.at(size_t(row / 64), m_shift - 6);
    if (isNull)
        word |= bit;
    else
        word &= ~bit;
}

inline bool Recordset::Data::nullBit(const Column &c, qint64 row) const
{
    return (c.nulls.at(size_t(row / 64), m_shift - 6) >> (row % 64)) & 1;
}

inline const char16_t *Recordset::Data::textData(const Column &c, TextRef ref)
{
    if (ref.length > chunkChars)
        return c.longTexts[ref.offset].data();
    return c.arena[ref.offset >> chunkShift].data() + (ref.offset & (chunkChars - 1));
}

inline Recordset::Data::TextRef Recordset::Data::storeText(Column &c, const char16_t *chars, size_t length, bool streaming)
{
    if (length == 0)
        return TextRef{0, 0};
    // Codes, names and dates repeat down a column: a repeated value shares one copy. The
    // value of the row before is the commonest repeat and needs no hashing.
    if (c.last.length == length && std::memcmp(textData(c, c.last), chars, length * sizeof(char16_t)) == 0)
        return c.last;
    if (length > chunkChars) {
        if (c.longTexts.size() >= UINT32_MAX)
            throw VelError(QStringLiteral("Text of field \"%1\" exceeds the record set's capacity").arg(c.name));
        c.longTexts.emplace_back(chars, length);
        return TextRef{uint32_t(c.longTexts.size() - 1), uint32_t(length)};
    }
    RecentText *slot = nullptr;
    size_t hash = 0;
    if (!streaming) {
        // The slot keeps the hash too: a different value in the slot is told apart without
        // reading its text, which is far back in the arena and rarely in the cache.
        constexpr size_t recentSlots = 4096;
        if (c.recent.empty())
            c.recent.assign(recentSlots, RecentText{{0, UINT32_MAX}, 0});
        hash = textHash(chars, length);
        slot = &c.recent[hash & (recentSlots - 1)];
        if (slot->hash == uint32_t(hash >> 32) && slot->ref.length == length
            && std::memcmp(textData(c, slot->ref), chars, length * sizeof(char16_t)) == 0) {
            c.last = slot->ref;
            return slot->ref;
        }
    }
    // Rows that are given up once written need little text at a time: small chunks, reused
    // while still in the cache.
    const size_t limit = streaming ? streamChunkChars : chunkChars;
    if (c.live.empty() || (c.arena[c.live.back()].size() + length > limit && !c.arena[c.live.back()].empty())) {
        if (!c.freeChunks.empty()) {
            c.live.push_back(c.freeChunks.back());
            c.freeChunks.pop_back();
        } else {
            if (c.arena.size() >= (size_t(1) << (32 - chunkShift)))
                throw VelError(QStringLiteral("Text of field \"%1\" exceeds the record set's capacity").arg(c.name));
            c.arena.emplace_back();
            // Later chunks are taken whole; the first grows with the data.
            if (c.arena.size() > 1 || streaming)
                c.arena.back().reserve(limit);
            c.chunkLastRow.push_back(0);
            c.live.push_back(uint32_t(c.arena.size() - 1));
        }
    }
    std::u16string &chunk = c.arena[c.live.back()];
    const TextRef ref{(c.live.back() << chunkShift) | uint32_t(chunk.size()), uint32_t(length)};
    chunk.append(chars, length);
    if (slot)
        *slot = RecentText{ref, uint32_t(hash >> 32)};
    c.last = ref;
    return ref;
}

// The oldest chunks that no row from `before` on refers to.
void Recordset::Data::releaseChunks(Column &c, qint64 before)
{
    while (c.live.size() > 1 && c.chunkLastRow[c.live.front()] < before) {
        const uint32_t chunk = c.live.front();
        c.live.pop_front();
        if (c.last.length > 0 && c.last.length <= chunkChars && (c.last.offset >> chunkShift) == chunk)
            c.last = TextRef{0, UINT32_MAX};
        c.arena[chunk].clear();   // keeps its memory for the next chunk
        c.chunkLastRow[chunk] = 0;
        c.freeChunks.push_back(chunk);
    }
}

void Recordset::ReleaseRows(qint64 row)
{
    row = std::min(row, d->m_rows);
    if (row <= d->m_released)
        return;
    // Given up early, while the first block is no larger than a small one: the blocks that
    // follow are small.
    if (d->m_released == 0 && d->m_capacity <= (size_t(1) << Data::releasedBlockShift))
        d->m_shift = Data::releasedBlockShift;
    const size_t before = size_t(row);
    for (Data::Column &c : d->m_columns) {
        c.ints.release(before, d->m_shift);
        c.doubles.release(before, d->m_shift);
        c.bools.release(before, d->m_shift);
        c.texts.release(before, d->m_shift);
        c.nulls.release(before / 64, d->m_shift - 6);
        // Repeats are no longer looked up: what they would save is reused anyway.
        c.recent = {};
        if (c.type == FieldType::Text)
            d->releaseChunks(c, row);
    }
    d->m_released = row;
    if (d->m_pos < row)
        d->m_pos = row;
}

void Recordset::SetNull(qint64 row, int field)
{
    d->setNullBit(d->cell(row, field), row, true);
}

void Recordset::SetInt(qint64 row, int field, qint64 value)
{
    Data::Column &c = d->cell(row, field);
    switch (c.type) {
    case FieldType::Integer: c.ints.at(size_t(row), d->m_shift) = value; break;
    case FieldType::Double: c.doubles.at(size_t(row), d->m_shift) = double(value); break;
    case FieldType::Boolean: c.bools.at(size_t(row), d->m_shift) = value != 0; break;
    default: SetValue(row, field, QVariant(value)); return;
    }
    d->setNullBit(c, row, false);
}

void Recordset::SetDouble(qint64 row, int field, double value)
{
    Data::Column &c = d->cell(row, field);
    if (c.type != FieldType::Double) {
        SetValue(row, field, QVariant(value));
        return;
    }
    c.doubles.at(size_t(row), d->m_shift) = value;
    d->setNullBit(c, row, false);
}

void Recordset::SetBool(qint64 row, int field, bool value)
{
    SetValue(row, field, QVariant(value));
}

void Recordset::SetText(qint64 row, int field, QStringView text)
{
    Data::Column &c = d->cell(row, field);
    if (c.type != FieldType::Text) {
        SetValue(row, field, QVariant(text.toString()));
        return;
    }
    const Data::TextRef ref =
        d->storeText(c, reinterpret_cast<const char16_t *>(text.utf16()), size_t(text.size()), d->m_released > 0);
    c.texts.at(size_t(row), d->m_shift) = ref;
    if (ref.length > 0 && ref.length <= Data::chunkChars) {
        qint64 &last = c.chunkLastRow[ref.offset >> Data::chunkShift];
        last = std::max(last, row);
    }
    d->setNullBit(c, row, false);
}

void Recordset::SetDateTime(qint64 row, int field, const QDateTime &value)
{
    Data::Column &c = d->cell(row, field);
    if (c.type != FieldType::DateTime) {
        SetValue(row, field, QVariant(value));
        return;
    }
    if (!value.isValid()) {
        d->setNullBit(c, row, true);
        return;
    }
    c.ints.at(size_t(row), d->m_shift) = wallClockMsecs(value);
    d->setNullBit(c, row, false);
}

void Recordset::SetValue(qint64 row, int field, const QVariant &value)
{
    Data::Column &c = d->cell(row, field);
    if (!value.isValid() || value.isNull()) {
        d->setNullBit(c, row, true);
        return;
    }
    bool ok = true;
    switch (c.type) {
    case FieldType::Integer: {
        const qint64 v = value.toLongLong(&ok);
        if (ok) c.ints.at(size_t(row), d->m_shift) = v;
        break;
    }
    case FieldType::Double: {
        const double v = value.toDouble(&ok);
        if (ok) c.doubles.at(size_t(row), d->m_shift) = v;
        break;
    }
    case FieldType::Boolean:
        c.bools.at(size_t(row), d->m_shift) = value.toBool();
        break;
    case FieldType::DateTime: {
        QDateTime dt = value.toDateTime();
        ok = dt.isValid();
        if (ok) c.ints.at(size_t(row), d->m_shift) = wallClockMsecs(dt);
        break;
    }
    case FieldType::Text:
        SetText(row, field, value.toString());
        return;
    }
    if (!ok)
        throw VelError(QStringLiteral("Value \"%1\" does not fit field \"%2\"").arg(value.toString(), c.name));
    d->setNullBit(c, row, false);
}

bool Recordset::IsNull(qint64 row, int field) const
{
    const Data::Column &c = d->cell(row, field);
    return d->nullBit(c, row);
}

QVariant Recordset::Value(qint64 row, int field) const
{
    if (IsNull(row, field))
        return QVariant();
    const Data::Column &c = d->column(field);
    switch (c.type) {
    case FieldType::Integer: return QVariant(qlonglong(c.ints.at(size_t(row), d->m_shift)));
    case FieldType::Double: return QVariant(c.doubles.at(size_t(row), d->m_shift));
    case FieldType::Boolean: return QVariant(bool(c.bools.at(size_t(row), d->m_shift)));
    case FieldType::DateTime: return QVariant(fromWallClockMsecs(c.ints.at(size_t(row), d->m_shift)));
    case FieldType::Text: return QVariant(TextAt(row, field));
    }
    return QVariant();
}

QVariant Recordset::Value(qint64 row, const QString &field) const
{
    const int f = FieldIndex(field);
    if (f < 0)
        throw VelError(QStringLiteral("No field named \"%1\"").arg(field));
    return Value(row, f);
}

qint64 Recordset::IntAt(qint64 row, int field) const
{
    const Data::Column &c = d->cell(row, field);
    switch (c.type) {
    case FieldType::Integer: return c.ints.at(size_t(row), d->m_shift);
    case FieldType::Double: return qint64(c.doubles.at(size_t(row), d->m_shift));
    case FieldType::Boolean: return c.bools.at(size_t(row), d->m_shift);
    default: return Value(row, field).toLongLong();
    }
}

double Recordset::DoubleAt(qint64 row, int field) const
{
    const Data::Column &c = d->cell(row, field);
    switch (c.type) {
    case FieldType::Double: return c.doubles.at(size_t(row), d->m_shift);
    case FieldType::Integer: return double(c.ints.at(size_t(row), d->m_shift));
    default: return Value(row, field).toDouble();
    }
}

QString Recordset::TextAt(qint64 row, int field) const
{
    const Data::Column &c = d->cell(row, field);
    if (c.type != FieldType::Text)
        return Value(row, field).toString();
    const Data::TextRef ref = c.texts.at(size_t(row), d->m_shift);
    if (ref.length == 0)
        return QStringLiteral("");
    return QString(reinterpret_cast<const QChar *>(d->textData(c, ref)), qsizetype(ref.length));
}

QStringView Recordset::TextViewAt(qint64 row, int field) const
{
    const Data::Column &c = d->cell(row, field);
    if (c.type != FieldType::Text)
        return {};
    const Data::TextRef ref = c.texts.at(size_t(row), d->m_shift);
    return ref.length == 0 ? QStringView() : QStringView(d->textData(c, ref), qsizetype(ref.length));
}

Recordset::Cell Recordset::CellAt(qint64 row, int field) const
{
    const Data::Column &c = d->cell(row, field);
    Cell cell;
    if (d->nullBit(c, row))
        return cell;
    cell.null = false;
    switch (c.type) {
    case FieldType::Integer:
    case FieldType::DateTime: cell.number = c.ints.at(size_t(row), d->m_shift); break;
    case FieldType::Boolean: cell.number = c.bools.at(size_t(row), d->m_shift); break;
    case FieldType::Double: cell.real = c.doubles.at(size_t(row), d->m_shift); break;
    case FieldType::Text: {
        const Data::TextRef ref = c.texts.at(size_t(row), d->m_shift);
        if (ref.length > 0)
            cell.text = QStringView(d->textData(c, ref), qsizetype(ref.length));
        break;
    }
    }
    return cell;
}

qint64 Recordset::WallClockMsecsAt(qint64 row, int field) const
{
    const Data::Column &c = d->cell(row, field);
    return c.type == FieldType::DateTime ? c.ints.at(size_t(row), d->m_shift) : 0;
}

QVariant Recordset::Fields(int field) const
{
    if (Eof())
        throw VelError(QStringLiteral("Either BOF or EOF is true: there is no current record"));
    return Value(d->m_pos, field);
}

QVariant Recordset::Fields(const QString &field) const
{
    if (Eof())
        throw VelError(QStringLiteral("Either BOF or EOF is true: there is no current record"));
    return Value(d->m_pos, field);
}

size_t Recordset::MemoryBytes() const
{
    size_t bytes = 0;
    for (const Data::Column &c : d->m_columns) {
        bytes += c.ints.bytes() + c.doubles.bytes() + c.bools.bytes() + c.texts.bytes() + c.nulls.bytes()
            + c.recent.capacity() * sizeof(Data::RecentText);
        for (const std::u16string &chunk : c.arena)
            bytes += chunk.capacity() * sizeof(char16_t);
        for (const std::u16string &text : c.longTexts)
            bytes += text.capacity() * sizeof(char16_t);
    }
    return bytes;
}
