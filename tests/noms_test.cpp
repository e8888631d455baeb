// Names, separators and type letters outside ASCII, as a user types them:
// the same command gives the same document on every platform, and any
// name the system can hold opens.
#include "essai.hpp"

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

// TYPE is the windows-1252 byte of the last character of the target's
// name, a to z upper-cased, and '?' for a character windows-1252 lacks or
// XML forbids; a character that would break the attribute or not read as
// itself is a reference.
TEST_F(Korvum, TypeLetterIsTheLastCharacterOfTheTarget)
{
	struct {
		std::string but;
		std::string type;
	} cas[] = {
	    {"a.b", "B"},
	    {"mots.q", "Q"},
	    {"mots.T", "T"},
	    {"mots.1", "1"},
	    {"mots.é", "\xe9"},
	    {"mots.É", "\xc9"},
	    {"mots.ç", "\xe7"},
	    {"mots.ß", "\xdf"},
	    {"mots.ÿ", "\xff"},
	    {"mots.€", "\x80"},
	    {"mots.Ω", "?"},
	    {"mots.😀", "?"},
	    {"mots.\xe9", "\xe9"}, // not UTF-8: a windows-1252 byte
	    {"mots&", "&#38;"},
	    {"mots.\u0081", "&#129;"},
#ifndef _WIN32 // names Windows does not allow
	    {"mots\"", "&#34;"},
	    {"mots<", "&#60;"},
	    {"mots\t", "&#9;"},
	    {"mots\x01", "?"},
	    {"mots.\x9d", "&#157;"},
#endif
	};
	ecris("source.txt", "");
	for (const auto &c : cas) {
		SCOPED_TRACE(c.but);
		Issue r = lance({"source.txt", c.but});
		EXPECT_EQ(r.statut, 0);
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(lis(c.but), document("", c.type));
	}
}

// Names in any script, as the source and as the target, in a folder of
// the same name.
TEST_F(Korvum, NamesInAnyScript)
{
	for (std::string nom :
	    {"Ελληνικά", "словарь", "日本語", "słówka", "Łódź", "liste 😀"}) {
		SCOPED_TRACE(nom);
		fs::create_directory(chemin(nom));
		ecris(nom + "/" + nom + ".txt", "chat;cat\n");
		Issue r = lance(
		    {nom + "/" + nom + ".txt", nom + "/" + nom + ".xml", ";"});
		EXPECT_EQ(r.statut, 0);
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(lis(nom + "/" + nom + ".xml"),
		    document(fiche("chat", "cat"), "L"));
	}
}

// The target is refused when it is the source under another name.
TEST_F(Korvum, SameFileByAUnicodeName)
{
	const std::string source = "mots;words\n";
	fs::create_directory(chemin("Ελληνικά"));
	std::vector<std::string> noms = {"Ελληνικά/λέξη.txt",
	    "Ελληνικά/../Ελληνικά/λέξη.txt", "Ελληνικά/λέξη-lien.txt"};
#ifdef _WIN32
	noms.push_back("ΕΛΛΗΝΙΚΆ/ΛΈΞΗ.TXT");
	noms.push_back("Ελληνικά\\Λέξη.Txt");
#endif
	for (const auto &but : noms) {
		SCOPED_TRACE(but);
		ecris("Ελληνικά/λέξη.txt", source);
		fs::remove(chemin("Ελληνικά/λέξη-lien.txt"));
		fs::create_hard_link(chemin("Ελληνικά/λέξη.txt"),
		    chemin("Ελληνικά/λέξη-lien.txt"));
		Issue r = lance({"Ελληνικά/λέξη.txt", but, ";"});
		EXPECT_EQ(r.statut, 1);
		EXPECT_EQ(r.err, attendu(MEMEFICHIER));
		EXPECT_EQ(lis("Ελληνικά/λέξη.txt"), source);
	}
}

// A path longer than the 260 characters of Windows' old limit, given whole.
// The test makes, reads and removes the folders one at a time, by short
// names, and starts korvum from above them: the C++ runtime of the Windows
// build and CreateProcess cannot work with such a path themselves.
TEST_F(Korvum, PathLongerThan260Characters)
{
	const std::vector<std::string> dossiers = {std::string(50, 'a'),
	    std::string(50, 'b'), std::string(50, 'c'), std::string(50, 'd'),
	    std::string(50, 'e'), std::string(50, 'f')};
	auto descendre = [&](bool creer) {
		for (const auto &d : dossiers) {
			if (creer)
				fs::create_directory(d);
			fs::current_path(d);
		}
	};
	std::u8string u = fs::current_path().u8string();
	std::string absolu(u.begin(), u.end());
	for (const auto &d : dossiers)
		absolu += "/" + d;
	ASSERT_GT(absolu.size(), 260u);
	descendre(true);
	ecris("vocabulaire.txt", "chat;cat\n");
	for (size_t i = 0; i < dossiers.size(); i++)
		fs::current_path("..");

	Issue r =
	    lance({absolu + "/vocabulaire.txt", absolu + "/mots.xml", ";"});
	descendre(false);
	EXPECT_EQ(r.statut, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(lis("mots.xml"), document(fiche("chat", "cat")));

	fs::remove("vocabulaire.txt");
	fs::remove("mots.xml");
	for (auto d = dossiers.rbegin(); d != dossiers.rend(); d++) {
		fs::current_path("..");
		fs::remove(*d);
	}
}

#ifdef _WIN32
// korvum.exe carries the version Explorer shows and the manifest that
// declares long paths, read the way Windows reads them.
TEST_F(Korvum, ExeCarriesItsVersionAndManifest)
{
	std::wstring exe = chemin(programme()).wstring();
	DWORD n = GetFileVersionInfoSizeW(exe.c_str(), nullptr);
	ASSERT_GT(n, 0u) << "no version resource";
	std::vector<char> info(n);
	ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, n, info.data()));
	auto valeur = [&](const wchar_t *nom) {
		std::wstring q = L"\\StringFileInfo\\040C04B0\\";
		wchar_t *v = nullptr;
		UINT l = 0;
		if (!VerQueryValueW(
		        info.data(), (q + nom).c_str(), (void **)&v, &l))
			return std::wstring();
		return std::wstring(v, l > 0 ? l - 1 : 0);
	};
	EXPECT_EQ(valeur(L"ProductName"), L"korvum");
	EXPECT_EQ(valeur(L"FileVersion"), chemin(KORVUM_VERSION).wstring());
	EXPECT_EQ(valeur(L"ProductVersion"), chemin(KORVUM_VERSION).wstring());
	EXPECT_EQ(valeur(L"LegalCopyright").substr(0, 6), L"\u00a9 2026");
	EXPECT_NE(valeur(L"FileDescription"), L"");

	HMODULE m = LoadLibraryExW(exe.c_str(), nullptr,
	    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
	ASSERT_NE(m, nullptr);
	HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
	ASSERT_NE(r, nullptr) << "no application manifest";
	std::string manifeste((const char *)LockResource(LoadResource(m, r)),
	    SizeofResource(m, r));
	FreeLibrary(m);
	for (const char *s : {"<ws2:longPathAware>true</ws2:longPathAware>",
	         "level=\"asInvoker\"",
	         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
		EXPECT_NE(manifeste.find(s), std::string::npos) << s;
}
#endif
