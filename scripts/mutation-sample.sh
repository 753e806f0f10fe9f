#!/usr/bin/env bash
# A fixed sample of small faults in the plug-in, the data component and the writers. Each
# fault is applied to a scratch copy of the tree, the affected tests are rebuilt and run, and
# the fault counts as caught when a test fails (or runs past the time limit). Prints the score.
#
#   scripts/mutation-sample.sh [--tree DIR] [--only ID,...] [--timeout SECONDS]
#   scripts/mutation-sample.sh --build BUILD_DIR [--only ID,...]
#
# The scratch copy lives in build/mutants/src, made afresh on each run (ccache keeps the
# first build short); --tree names the tree to copy (default: this one). A fault that no longer
# applies (the line moved or changed) or does not compile is reported and left out of the score.
# With --build the faults go into this tree itself, one at a time, and BUILD_DIR (a configured
# build of it) is rebuilt: no second build, for a busy machine. Each file is put back after its
# fault, and on any exit.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
tree=$here
only=
timeout=240
inplace=
while [ $# -gt 0 ]; do
  case $1 in
    --tree) tree=$(cd "$2" && pwd); shift 2 ;;
    --only) only=,$2,; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --build) inplace=$(cd "$2" && pwd); shift 2 ;;
    *) echo "usage: $0 [--tree DIR | --build BUILD_DIR] [--only ID,...] [--timeout SECONDS]" >&2; exit 2 ;;
  esac
done

work=$here/build/mutants
mkdir -p "$work"
if [ -n "$inplace" ]; then
  src=$here
  build=$inplace
  restore=
  trap '[ -z "$restore" ] || cp "$work/saved" "$src/$restore"' EXIT
  trap 'exit 130' INT TERM
else
  src=$work/src
  rm -rf "$src"
  mkdir -p "$src"
  tar -C "$tree" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$src" -xf -
  build=$src/build/test
fi

# The fast tests of each area, most telling first: the plug-in (reports, facade, filters), the
# data component, the writers. A run stops at the first test that fails.
P="tst_plugin_reports tst_plugin_facade tst_plugin_title tst_plugin_shared tst_filterforms tst_reportfilter tst_fieldcontract"
S="tst_serverreports tst_serverledger tst_servertext tst_serverchain tst_fieldcontract"
W="tst_present tst_reportview"

# id ~ area ~ file ~ text ~ replacement   (the first occurrence of text is replaced)
faults=$(cat <<'TABLE'
s01~S~server/FilterValues.cpp~Add(expr + QStringLiteral(" >= ?"), {from});~Add(expr + QStringLiteral(" > ?"), {from});
s02~S~server/FilterValues.cpp~Add(expr + QStringLiteral(" <= ?"), {to});~Add(expr + QStringLiteral(" < ?"), {to});
s03~S~server/FilterValues.cpp~    if (!to.isEmpty())~    if (false)
s04~S~server/FilterValues.cpp~Add(expr + QStringLiteral(" >= ?"), {FilterValues::SqlDateTime(*from)});~Add(expr + QStringLiteral(" > ?"), {FilterValues::SqlDateTime(*from)});
s05~S~server/FilterValues.cpp~(inclusive ? QStringLiteral(" <= ?")~(inclusive ? QStringLiteral(" < ?")
s06~S~server/FilterValues.cpp~number < min || number > max~number < min || number > max + 1
s07~S~server/FilterValues.cpp~Add(expr + QStringLiteral(" = ?"), {value});~Add(expr + QStringLiteral(" <> ?"), {value});
s08~S~server/FilterValues.cpp~pattern = u'%' + pattern + u'%';~pattern = pattern + u'%';
s09~S~server/ReportSales.cpp~where.DateFrom(QStringLiteral("b.FDate"), WallClock::At(from->date()));~where.DateFrom(QStringLiteral("b.FDate"), WallClock::At(from->date().addDays(1)));
s10~S~server/ReportSales.cpp~COUNT(DISTINCT CASE WHEN b.FReturn = 0 THEN b.FID END)~COUNT(DISTINCT b.FID)
s11~S~server/ReportSales.cpp~"g.amount, g.payAmount, g.amount - g.payAmount~"g.payAmount, g.amount, g.amount - g.payAmount
s12~S~server/ReportSales.cpp~table.SetText(row, fVipNo, QStringLiteral("小计"));~table.SetText(row, fVipNo, QString());
s13~S~server/ReportSales.cpp~THEN '退货' ELSE '销售' END~THEN '销售' ELSE '退货' END
s14~S~server/ReportSales.cpp~where.Equals(QStringLiteral("e.FNumber"), values.Text(QStringLiteral("Cashier")));~where.Equals(QStringLiteral("p.FNumber"), values.Text(QStringLiteral("Cashier")));
s15~S~server/ReportLedger.cpp~where.DateTo(QStringLiteral("m.FDate"), start.addMonths(1), false);~where.DateTo(QStringLiteral("m.FDate"), start.addMonths(1).addDays(-1), false);
s16~S~server/ReportLedger.cpp~b.FMonth < ? "~b.FMonth <= ? "
s17~S~server/ReportLedger.cpp~SUM(m.FValueAdd - m.FValueSpent)~SUM(m.FValueAdd + m.FValueSpent)
s18~S~server/ReportJournals.cpp~if (!open || k != key) {~if (!open) {
s19~S~server/ReportJournals.cpp~table.CopyDetail(*cursor, !sumOnly);~table.CopyDetail(*cursor, true);
s20~S~server/ReportTable.cpp~m_rs->SetDouble(row, field, double(value) / 100.0)~m_rs->SetDouble(row, field, double(value) / 10.0)
s21~S~server/ReportTable.cpp~m_rs->SetDouble(row, field, double(value) / 1000.0)~m_rs->SetDouble(row, field, double(value) / 100.0)
s22~S~server/ReportTable.cpp~m_total[size_t(field)] += value;~m_total[size_t(field)] += value / 2;
s23~S~server/ReportTable.cpp~std::fill(m_group.begin(), m_group.end(), 0);~(void)m_group;
s24~S~server/ReportTable.cpp~const QDate date(number(0, 4), number(5, 2), number(8, 2));~const QDate date(number(0, 4), number(5, 2), number(8, 2) - 1);
s25~S~server/TextFold.cpp~for (char16_t c = u'０'; c <= u'９'; ++c)~for (char16_t c = u'０'; c < u'９'; ++c)
s26~S~server/ReportJournals.cpp~tp.FAmount, tp.FPaid,~tp.FPaid, tp.FAmount,
p01~P~src/reports/Rpt10902.cpp~wallClockEnd(FilterValue(QStringLiteral("EDate"))).addDays(1);~wallClockEnd(FilterValue(QStringLiteral("EDate"))).addDays(2);
p02~P~src/reports/Rpt10902.cpp~const QDateTime userEnd = m_shiftedEnd.addDays(-1);~const QDateTime userEnd = m_shiftedEnd;
p03~P~src/reports/Rpt10902.cpp~{"原价金额$", "", "6", "FAmount"},~{"原价金额$", "", "6", "FpayAmount"},
p04~P~src/reports/Rpt10902.cpp~if (grouping != 3)~if (grouping != 2)
p05~P~src/reports/Rpt10906.cpp~{"零售价$", "", "4", "FSalePrice"},~{"零售价$", "", "6", "FSalePrice"},
p06~P~src/reports/Rpt10906.cpp~if (barCode.isEmpty())~if (!barCode.isEmpty())
p07~P~libs/velshared/FilterRules.cpp~while (to > from && isSpace(text[to - 1]))~while (to > from + 1 && isSpace(text[to - 1]))
p08~P~libs/velshared/VariantConvert.cpp~r >= double(std::numeric_limits<T>::min())~r > double(std::numeric_limits<T>::min())
p09~P~libs/velshared/VariantConvert.cpp~QLatin1String("true"), Qt::CaseInsensitive~QLatin1String("true"), Qt::CaseSensitive
p10~P~src/reports/RptTitle.cpp~if (!documentCaption && m_appType == 1)~if (!documentCaption && m_appType != 1)
p11~P~src/filters/ReportFilter.cpp~if (m_rptId < 10901 || m_rptId > 10906)~if (m_rptId < 10901 || m_rptId > 10905)
p12~P~src/filters/GroupedFilterForm.cpp~chkShowSumOnly->setChecked(sumOnly != 0);~chkShowSumOnly->setChecked(sumOnly == 0);
p13~P~src/filters/frmFilter10901.cpp~ToInt16(Filter->GetValue(QStringLiteral("ShowVipDo"), 0)) != 0~ToInt16(Filter->GetValue(QStringLiteral("ShowVipDo"), 0)) == 0
p14~S~libs/velshared/WallClock.cpp~m.capturedView(13).isEmpty() ? (end ? 59 : 0)~m.capturedView(13).isEmpty() ? 0
w01~W~apps/common/output/ValueFormat.cpp~const qint64 whole = qint64(std::round(v * scale));~const qint64 whole = qint64(v * scale);
w02~W~apps/common/output/ValueFormat.cpp~if (grouped && grouping == 3) {~if (grouped && grouping == 4) {
w03~W~apps/common/output/ValueFormat.cpp~d = int(doy - (153 * mp + 2) / 5 + 1);~d = int(doy - (153 * mp + 2) / 5);
w04~W~apps/common/output/CsvWriter.cpp~(c == u',' || c == u'"' || c == u'\n' || c == u'\r')~(c == u',' || c == u'"' || c == u'\r')
w05~W~apps/common/output/CsvWriter.cpp~if (m_options.byteOrderMark)~if (!m_options.byteOrderMark)
w06~W~apps/common/output/CsvWriter.cpp~out.PutText(text.mid(from, i - from + 1));~out.PutText(text.mid(from, i - from));
w07~W~apps/common/output/XlsxSheet.cpp~if (days >= leapBug)~if (days > leapBug)
w08~W~apps/common/output/XlsxSheet.cpp~name.insert(name.begin(), char('A' + (n - 1) % 26));~name.insert(name.begin(), char('A' + n % 26));
w09~W~apps/common/output/XlsxSheet.cpp~c == u'&' || c == u'<' || c == u'>'~c == u'&' || c == u'>'
w10~W~apps/common/output/XlsxSheet.cpp~std::fabs(d) < 1e13 ? std::llround(d * 100) : 0;~std::fabs(d) < 1e13 ? qint64(d * 100) : 0;
TABLE
)

if [ ! -f "$build/build.ninja" ]; then
  nice cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_LINK_DEPENDS_NO_SHARED=ON >"$work/configure.log" 2>&1 \
    || { echo "configure failed: $work/configure.log" >&2; exit 1; }
fi

# Test executables that exist in this tree (a suite may have been merged or renamed).
targets() {
  local have t
  have=$(ninja -C "$build" -t targets all 2>/dev/null | sed -n 's/^\(tst_[a-z_]*\): .*/\1/p' | sort -u)
  for t in $1; do grep -qx "$t" <<<"$have" && echo "$t"; done
}

build_tests() { nice ninja -C "$build" -j2 $(targets "$1" | sort -u) >"$work/build.log" 2>&1; }

run_tests() {   # prints the first failing test, if any
  local t
  for t in $1; do
    if ! (cd "$build" && QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' \
          timeout "$timeout" nice "bin/$t" >"$work/last-test.log" 2>&1); then
      echo "$t"; return
    fi
  done
}

echo "building the unchanged copy..."
build_tests "$P $S $W" || { echo "the unchanged copy does not build: $work/build.log" >&2; exit 1; }
failing=$(run_tests "$(targets "$P $S $W" | sort -u)")
[ -z "$failing" ] || { echo "the unchanged copy fails $failing; fix that first" >&2; exit 1; }

caught=0 missed=0 skipped=0
missed_ids=
while IFS="~" read -r id area file text repl; do
  [ -n "$id" ] || continue
  [ -z "$only" ] || [[ $only == *",$id,"* ]] || continue
  cp "$src/$file" "$work/saved"
  restore=$file
  if ! OLD=$text NEW=$repl perl -0777 -i -pe '$n = s/\Q$ENV{OLD}\E/$ENV{NEW}/; END { exit($n ? 0 : 3) }' "$src/$file"; then
    echo "$id  skipped: text not found in $file"; skipped=$((skipped + 1)); cp "$work/saved" "$src/$file"; continue
  fi
  case $area in P) tests=$P ;; S) tests=$S ;; *) tests=$W ;; esac
  if ! build_tests "$tests"; then
    echo "$id  skipped: does not compile"; skipped=$((skipped + 1))
  else
    failing=$(run_tests "$(targets "$tests")")
    if [ -n "$failing" ]; then
      echo "$id  caught by $failing"; caught=$((caught + 1))
    else
      echo "$id  MISSED: $file: $text"; missed=$((missed + 1)); missed_ids="$missed_ids $id"
    fi
  fi
  cp "$work/saved" "$src/$file"
  restore=
done <<<"$faults"

echo "caught $caught of $((caught + missed)) faults ($skipped skipped)${missed_ids:+; missed:$missed_ids}"
