# Writes OUTPUT, a C++ source that holds the page INPUT as the string UiPageHtml, with the
# files it names as <!-- include NAME --> put in their place: the page ships inside the
# program, and nothing is fetched from elsewhere.
file(READ ${INPUT} page)
get_filename_component(dir ${INPUT} DIRECTORY)
string(REGEX MATCHALL "<!-- include [A-Za-z0-9_.-]+ -->" includes "${page}")
foreach(marker IN LISTS includes)
    string(REGEX REPLACE "<!-- include ([A-Za-z0-9_.-]+) -->" "\\1" name "${marker}")
    file(READ ${dir}/${name} part)
    string(REPLACE "${marker}" "${part}" page "${page}")
endforeach()
string(FIND "${page}" ")PAGE\"" clash)
if(NOT clash EQUAL -1)
    message(FATAL_ERROR "the page holds the raw string's end marker")
endif()
file(WRITE ${OUTPUT} "// Made by cli/ui/Embed.cmake from cli/ui/page/; edit those.\n"
    "extern const char* const UiPageHtml;\n"
    "const char* const UiPageHtml = R\"PAGE(${page})PAGE\";\n")
