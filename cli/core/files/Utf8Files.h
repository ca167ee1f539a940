#pragma once

// File names as callpanel holds them: UTF-8 on both systems. Windows opens a file by its
// UTF-16 name, whatever its code page; elsewhere the bytes pass as they are.

#include <cstdio>
#include <filesystem>
#include <string>

std::FILE* OpenUtf8File(const std::string& path, const char* mode);
// A new file for writing, readable by its owner alone; fails (EEXIST) when the name is taken,
// even by a symlink, so that nothing is overwritten or written through a link.
std::FILE* CreateUtf8File(const std::string& path);
std::filesystem::path Utf8Path(const std::string& path);

// An environment variable as UTF-8 (Windows keeps them in UTF-16); empty when it is not set.
std::string Utf8Environment(const char* name);
