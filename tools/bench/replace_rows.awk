# Puts the rows of a partial benchmark run into the results table:
#   awk -v rows=FRESH -f replace_rows.awk results.md > results.md.new
# A row is known by its measure (its first cell). Each fresh row takes the place of the row of
# the same measure; fresh rows the table lacks follow the last row replaced (or end the table
# when none was). A measure the table lists twice keeps its first row only, so a table that a
# partial run once appended to comes out whole.

function is_row(line) {
    return line ~ /^\|/ && line !~ /^\|---/ && line !~ /^\| measure \|/
}

function measure(line,  cells) {
    split(line, cells, "|")
    gsub(/^ +| +$/, "", cells[2])
    return cells[2]
}

BEGIN {
    while ((getline line < rows) > 0)
        if (is_row(line)) {
            key = measure(line)
            if (!(key in fresh)) order[++count] = key
            fresh[key] = line
        }
    close(rows)
    # A first look at the table: where the fresh rows it lacks go.
    while ((getline line < ARGV[1]) > 0) {
        ++at
        if (!is_row(line)) continue
        last_row = at
        key = measure(line)
        if (key in listed) continue
        listed[key] = 1
        if (key in fresh) last_replaced = at
    }
    close(ARGV[1])
    insert_after = last_replaced ? last_replaced : last_row
}

is_row($0) {
    key = measure($0)
    if (!(key in printed)) {
        printed[key] = 1
        print (key in fresh) ? fresh[key] : $0
    }
}
!is_row($0) { print }
FNR == insert_after {
    for (i = 1; i <= count; i++)
        if (!(order[i] in listed)) print fresh[order[i]]
}
END {
    if (insert_after) exit
    for (i = 1; i <= count; i++) print fresh[order[i]]
}
