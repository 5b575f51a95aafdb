# Turns docs/configuration.md into the manual page sentrel.mon(5), so that the
# page and the document never tell different stories.
#
#   LC_ALL=C awk -v version=1.4.0 [-v output=FILE] -f markdown_to_man.awk configuration.md
#
# It reads the Markdown this project writes: "#" headings, paragraphs, "-"
# lists with indented continuation lines, "|" tables, fenced and indented
# code; inline `code`, **bold** and [links](target). Tables go to tbl, with
# column widths chosen so that a page of 80 columns needs no wider line.
# Run it in the C locale: text is handled byte by byte, and characters
# outside ASCII are written as groff's \[uXXXX].

BEGIN {
  for (i = 1; i < 256; i++) ord[sprintf("%c", i)] = i
  table_width = 70     # the text width of an 80-column page, less the indent
  column_gap = 3       # tbl's default space between columns
  emit("'\\\" t")
  emit(".TH SENTREL.MON 5 \"\" \"Sentrel " version "\" \"File Formats\"")
  emit(".nh")
  emit(".SH NAME")
  emit("sentrel.mon \\- configuration file of the Sentrel file monitor")
  emit(".SH SYNOPSIS")
  emit(".I default.mon")
  emit(".br")
  emit(".I NAME.mon")
  emit(".SH DESCRIPTION")
  emit("\\fBsentrel\\fR(1) reads one configuration file at start: the one named on")
  emit("its command line, or the first \\fIdefault.mon\\fR it finds (see")
  emit("\\fBsentrel\\fR(1), FILES). This page describes what such a file holds.")
  pending_pp = 1
}

# The page goes to the file named by `output`, else to standard output.
function emit(s) {
  if (output != "") print s > output
  else print s
}

# Every character outside ASCII as groff's escape of its code point.
function utf8(s,    out, i, n, c, b, cp, need, k) {
  if (s !~ /[\200-\377]/) return s
  out = ""
  n = length(s)
  for (i = 1; i <= n; ) {
    c = substr(s, i, 1)
    b = ord[c]
    if (b < 192) { out = out c; i++; continue }
    if (b >= 240) { cp = b - 240; need = 3 }
    else if (b >= 224) { cp = b - 224; need = 2 }
    else { cp = b - 192; need = 1 }
    for (k = 1; k <= need; k++) cp = cp * 64 + (ord[substr(s, i + k, 1)] - 128)
    out = out sprintf("\\[u%04X]", cp)
    i += need + 1
  }
  return out
}

# Text that roff must print as it stands.
function escape(s) {
  gsub(/\\/, "\\\\e", s)
  return utf8(s)
}

# A line of roff must not begin with a control character.
function line_safe(s) {
  if (s ~ /^[.']/) return "\\&" s
  return s
}

# Inline Markdown to roff: `code` and **bold** in bold, links as their text.
function inline(s,    n, parts, i, seg, out) {
  n = split(s, parts, "`")
  out = ""
  for (i = 1; i <= n; i++) {
    seg = escape(parts[i])
    if (i % 2 == 0 && i < n) {
      gsub(/-/, "\\-", seg)
      out = out "\\fB" seg "\\fR"
      continue
    }
    if (i % 2 == 0) out = out "`"   # an unpaired backquote
    while (match(seg, /\*\*[^*]+\*\*/)) {
      seg = substr(seg, 1, RSTART - 1) "\\fB" substr(seg, RSTART + 2, RLENGTH - 4) "\\fR" \
            substr(seg, RSTART + RLENGTH)
    }
    while (match(seg, /\[[^]]*\]\([^)]*\)/)) {
      inner = substr(seg, RSTART + 1, RLENGTH - 2)
      sub(/\]\(.*$/, "", inner)
      seg = substr(seg, 1, RSTART - 1) inner substr(seg, RSTART + RLENGTH)
    }
    out = out seg
  }
  return out
}

# How many columns a Markdown text takes on the page.
function shown_width(s) {
  gsub(/`|\*\*/, "", s)
  gsub(/[\200-\277]/, "", s)
  return length(s)
}

function longest_word(s,    n, words, i, w, best) {
  gsub(/`|\*\*/, "", s)
  gsub(/[\200-\277]/, "", s)
  n = split(s, words, " ")
  best = 0
  for (i = 1; i <= n; i++) if (length(words[i]) > best) best = length(words[i])
  return best
}

function paragraph_break() {
  if (pending_pp) emit(".PP")
  pending_pp = 0
}

function flush_table(    r, c, n, cells, want, least, sum_want, sum_least, fixed, extra, slack,
                         width, wraps, head_fmt, body_fmt, line, cell, height, lines) {
  if (rows == 0) return
  n = 0
  for (r = 1; r <= rows; r++) {
    split(row[r], cells, "\t")
    for (c = 1; c <= row_cells[r]; c++) {
      if (c > n) { n = c; want[c] = 0; least[c] = 0 }
      if (shown_width(cells[c]) > want[c]) want[c] = shown_width(cells[c])
      if (longest_word(cells[c]) > least[c]) least[c] = longest_word(cells[c])
    }
  }
  sum_want = 0; sum_least = 0
  for (c = 1; c <= n; c++) { sum_want += want[c]; sum_least += least[c] }
  fixed = column_gap * (n - 1)
  # Columns keep their widest cell while the table fits; otherwise each
  # keeps its longest word and the room left is shared by what they lack.
  extra = table_width - fixed - sum_least
  slack = sum_want - sum_least
  for (c = 1; c <= n; c++) {
    if (sum_want + fixed <= table_width || slack == 0 || extra < 0) width[c] = want[c]
    else width[c] = least[c] + int(extra * (want[c] - least[c]) / slack)
    if (width[c] < least[c]) width[c] = least[c]
    wraps[c] = width[c] < want[c]
  }
  head_fmt = ""; body_fmt = ""
  for (c = 1; c <= n; c++) {
    head_fmt = head_fmt (c > 1 ? " " : "") "lB" (wraps[c] ? "w(" width[c] "n)" : "")
    body_fmt = body_fmt (c > 1 ? " " : "") "l" (wraps[c] ? "w(" width[c] "n)" : "")
  }
  # tbl sets every text block aside before the table and warns when one is
  # taller than the rest of the page; asking for room first lets a man page,
  # which is one long page, grow instead (groff 1.22).
  height = 1
  for (r = 1; r <= rows; r++) {
    split(row[r], cells, "\t")
    for (c = 1; c <= row_cells[r]; c++) {
      if (!wraps[c]) continue
      lines = int(shown_width(cells[c]) * 1.3 / width[c]) + 2
      if (lines > height) height = lines
    }
  }
  paragraph_break()
  if (height > 1) emit(".ne " height "v")
  # Narrow columns are filled but not stretched to both edges.
  emit(".na")
  emit(".TS")
  emit(head_fmt)
  emit(body_fmt ".")
  for (r = 1; r <= rows; r++) {
    split(row[r], cells, "\t")
    line = ""
    for (c = 1; c <= n; c++) {
      cell = c <= row_cells[r] ? inline(cells[c]) : ""
      if (r == 1) gsub(/\\fR/, "\\fB", cell)
      if (wraps[c]) cell = "T{\n" line_safe(cell) "\nT}"
      else cell = "\\&" cell
      line = line (c > 1 ? "\t" : "") cell
    }
    emit(line)
  }
  emit(".TE")
  emit(".ad")
  rows = 0
  pending_pp = 1
}

function end_code() {
  if (!in_code) return
  emit(".fi")
  emit(".RE")
  in_code = 0
  pending_pp = 1
}

# Fenced code.
/^```/ {
  flush_table()
  if (in_fence) { end_code(); in_fence = 0; next }
  paragraph_break()
  emit(".RS 4")
  emit(".nf")
  in_fence = 1; in_code = 1
  next
}
in_fence { emit(line_safe(escape($0))); next }

# Indented code: four blanks after an empty line, outside a list.
in_code && /^    / { emit(line_safe(escape(substr($0, 5)))); next }
in_code && /^$/ { code_blank++; next }
in_code {
  end_code()
  code_blank = 0
}
/^    / && last_blank && !in_list {
  paragraph_break()
  emit(".RS 4")
  emit(".nf")
  emit(line_safe(escape(substr($0, 5))))
  in_code = 1
  next
}

/^\|/ {
  in_list = 0
  if ($0 ~ /^\|[-: |]+\|$/) next   # the line under the header
  s = $0
  sub(/^\| */, "", s); sub(/ *\|$/, "", s)
  gsub(/ *\| */, "\t", s)
  rows++
  row[rows] = s
  row_cells[rows] = split(s, tmp, "\t")
  next
}
{ flush_table() }

/^$/ { last_blank = 1; pending_pp = 1; in_list = 0; next }

/^# / { last_blank = 0; next }   # the document's title: the page has its own

/^##+ / {
  level = index($0, " ") - 1
  title = substr($0, level + 2)
  if (level == 2) {
    n = split(title, parts, "`")
    title = ""
    for (i = 1; i <= n; i++) title = title (i > 1 ? "`" : "") (i % 2 ? toupper(parts[i]) : parts[i])
    emit(".SH \"" inline(title) "\"")
  } else {
    emit(".SS \"" inline(title) "\"")
  }
  pending_pp = 0; last_blank = 0; in_list = 0
  next
}

/^- / {
  emit(".IP \\(bu 2")
  emit(line_safe(inline(substr($0, 3))))
  in_list = 1; pending_pp = 0; last_blank = 0
  next
}

in_list && /^  +[^ ]/ {
  s = $0
  sub(/^ +/, "", s)
  emit(line_safe(inline(s)))
  next
}

{
  if (in_list) { in_list = 0; pending_pp = 1 }
  paragraph_break()
  emit(line_safe(inline($0)))
  last_blank = 0
}

END {
  flush_table()
  end_code()
  emit(".SH \"SEE ALSO\"")
  emit("\\fBsentrel\\fR(1)")
}
