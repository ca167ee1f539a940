# The user documentation as HTML for the Windows zip, from the Markdown pages in docs/:
#   awk -v pages="user-guide windows" -f docs-html.awk docs/user-guide.md >user-guide.html
# Only what those pages use: headings, paragraphs, lists two levels deep, indented code, pipe
# tables, code spans, bold, emphasis, links and pictures. A link to a page that is not shipped
# (`pages`) keeps its text only.

function esc(s) {
    gsub(/&/, "\\&amp;", s)
    gsub(/</, "\\&lt;", s)
    gsub(/>/, "\\&gt;", s)
    gsub(/"/, "\\&quot;", s)
    return s
}

# GitHub's anchors: lower case, punctuation dropped, blanks as dashes.
function slug(s) {
    s = tolower(s)
    gsub(/[^a-z0-9 _-]/, "", s)
    gsub(/ /, "-", s)
    return s
}

function target(href,   page, anchor, i) {
    if (href ~ /^[a-z]+:/) return href
    i = index(href, "#")
    page = i ? substr(href, 1, i - 1) : href
    anchor = i ? substr(href, i) : ""
    if (page == "") return anchor
    if (page ~ /\.md$/) {
        sub(/\.md$/, "", page)
        if (!((" " pages " ") ~ (" " page " "))) return ""
        return page ".html" anchor
    }
    if (page ~ /\//) return ""
    return href
}

# Bold and emphasis of text that holds no code span; already escaped.
function spans(s,   i) {
    while (match(s, /\*\*[^*]+\*\*/))
        s = substr(s, 1, RSTART - 1) "<strong>" substr(s, RSTART + 2, RLENGTH - 4) "</strong>" \
            substr(s, RSTART + RLENGTH)
    # Bold around a code span: its halves meet here one call after the other.
    while ((i = index(s, "**")) > 0) {
        s = substr(s, 1, i - 1) (bold ? "</strong>" : "<strong>") substr(s, i + 2)
        bold = !bold
    }
    while (match(s, /\*[^* ][^*]*\*/))
        s = substr(s, 1, RSTART - 1) "<em>" substr(s, RSTART + 1, RLENGTH - 2) "</em>" \
            substr(s, RSTART + RLENGTH)
    return s
}

# Code spans kept as they are, the rest escaped and marked up.
function codes(s,   out, i) {
    out = ""
    while ((i = index(s, "`")) > 0) {
        out = out spans(esc(substr(s, 1, i - 1)))
        s = substr(s, i + 1)
        i = index(s, "`")
        if (i == 0) {
            out = out "`"
            break
        }
        out = out "<code>" esc(substr(s, 1, i - 1)) "</code>"
        s = substr(s, i + 1)
    }
    return out spans(esc(s))
}

# Inline text: links and pictures first (their text may hold code), held as \002N\003 meanwhile.
function inline(s,   n, m, pre, text, href, t, out, i, k) {
    n = 0
    while (match(s, /!?\[[^\]]*\]\([^) ]+\)/)) {
        pre = substr(s, 1, RSTART - 1)
        m = substr(s, RSTART, RLENGTH)
        s = substr(s, RSTART + RLENGTH)
        text = m
        sub(/^!?\[/, "", text)
        sub(/\]\(.*$/, "", text)
        href = m
        sub(/^[^\]]*\]\(/, "", href)
        sub(/\)$/, "", href)
        if (m ~ /^!/) {
            t = "<img src=\"" esc(href) "\" alt=\"" esc(text) "\">"
        } else {
            t = target(href)
            t = t == "" ? codes(text) : "<a href=\"" esc(t) "\">" codes(text) "</a>"
        }
        held[++n] = t
        out = out pre "\002" n "\003"
    }
    out = codes(out s)
    for (k = 1; k <= n; k++) {
        i = index(out, "\002" k "\003")
        out = substr(out, 1, i - 1) held[k] substr(out, i + length("\002" k "\003"))
    }
    return out
}

function flush_para() {
    if (para != "") print "<p>" inline(para) "</p>"
    para = ""
}

function flush_item() {
    if (item != "") print inline(item)
    item = ""
}

function close_lists(to) {
    flush_item()
    while (depth > to) {
        print "</li></ul>"
        depth--
    }
}

function flush_code() {
    if (code != "") print "<pre>" esc(code) "</pre>"
    code = ""
}

function flush_table(   i, n, cells, c, tag, row) {
    if (rows == 0) return
    print "<table>"
    for (i = 1; i <= rows; i++) {
        if (i == 2) continue # the separator
        row = table[i]
        sub(/^ *\|/, "", row)
        sub(/\| *$/, "", row)
        gsub(/\\\|/, "\001", row)
        n = split(row, cells, "|")
        tag = i == 1 ? "th" : "td"
        printf "<tr>"
        for (c = 1; c <= n; c++) {
            gsub(/\001/, "|", cells[c])
            gsub(/^ +| +$/, "", cells[c])
            printf "<%s>%s</%s>", tag, inline(cells[c]), tag
        }
        print "</tr>"
    }
    print "</table>"
    rows = 0
}

function flush_all() {
    flush_para()
    flush_code()
    flush_table()
    close_lists(0)
}

BEGIN {
    depth = 0
    rows = 0
    blank = 1
}

{
    line = $0
    sub(/\r$/, "", line)
}

line ~ /^ *$/ {
    flush_para()
    flush_item()
    if (code != "") code = code "\n"
    blank = 1
    next
}

# Indented code: only after a blank line, deeper than the list it may sit in.
blank && match(line, /^ +/) && RLENGTH >= 4 + 2 * depth {
    flush_table()
    flush_item()
    sub(/\n+$/, "", code)
    code = (code == "" ? "" : code "\n") substr(line, 5 + 2 * depth)
    next
}

{
    if (code != "") {
        sub(/\n+$/, "", code)
        flush_code()
    }
}

/^#+ / {
    flush_all()
    match(line, /^#+/)
    level = RLENGTH
    text = substr(line, level + 2)
    plain = text
    gsub(/`/, "", plain)
    if (title == "") title = plain
    printf "<h%d id=\"%s\">%s</h%d>\n", level, slug(plain), inline(text), level
    blank = 0
    next
}

/^\|/ {
    flush_para()
    close_lists(0)
    table[++rows] = line
    blank = 0
    next
}

match(line, /^ *- /) {
    marker = RLENGTH # before anything else calls match()
    flush_para()
    flush_table()
    level = (marker - 2) / 2 + 1
    flush_item()
    if (level > depth) {
        while (depth < level) {
            print "<ul><li>"
            depth++
        }
    } else {
        close_lists(level)
        print "</li><li>"
    }
    item = substr(line, marker + 1)
    blank = 0
    next
}

{
    flush_table()
    match(line, /^ */)
    indent = RLENGTH
    if (depth > 0 && (indent > 0 || !blank)) {
        # A list item's next line, or its next paragraph.
        text = substr(line, indent + 1)
        if (blank) {
            # Back in the item of its own indent.
            if (int(indent / 2) < depth) {
                close_lists(int(indent / 2))
            } else {
                flush_item()
                print "<br><br>"
            }
        }
        item = item == "" ? text : item " " text
    } else {
        close_lists(0)
        para = para == "" ? line : para " " line
    }
    blank = 0
}

END {
    if (code != "") sub(/\n+$/, "", code)
    flush_all()
}
