// What the suite expects of korvum, shared by its test files: the
// messages as korvum's table spells them, the document around a body, and a
// table runner that converts each source and compares the document, standard
// error and status whole.
#pragma once

#include "defs.h" // korvum's buffer and window sizes
#include "lancer.hpp"
#include "messages.h" // and its messages

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

// A text of korvum's table of messages as the build under test writes
// it: in code page 850 on Windows, as a file or a pipe gets it; the UTF-8
// of the table elsewhere.
inline std::string
attendu(const char *m)
{
#ifdef _WIN32
	wchar_t w[1024];
	char o[1024];
	int k = MultiByteToWideChar(CP_UTF8, 0, m, -1, w, 1024);
	k = WideCharToMultiByte(
	    850, 0, w, k - 1, o, sizeof o, nullptr, nullptr);
	return std::string(o, k);
#else
	return m;
#endif
}

inline const std::string USAGE = attendu(SYNTAXE) + attendu(DEFAUT);

// What korvum says of line n when the document stops being well-formed
// there, and why; and when a forbidden character was replaced on it.
inline std::string
illisible(int n, const std::string &pourquoi)
{
	return attendu(MESSAGELIGNE) + std::to_string(n) + attendu(JOINT) +
	       attendu(DOCILLISIBLE) + pourquoi + attendu(FINMESSAGE);
}
inline std::string
nonfermee(const std::string &balise)
{
	std::string t = attendu(POURQUOI[R_NONFERMEE].texte);
	return t.replace(t.find('%'), 1, balise);
}
inline const std::string INFERIEUR = attendu(POURQUOI[R_INFERIEUR].texte);
inline std::string
interdit(int n)
{
	return attendu(MESSAGELIGNE) + std::to_string(n) + attendu(JOINT) +
	       attendu(CARINTERDIT) + attendu(FINMESSAGE);
}

// The document korvum writes around a body, for a target whose name ends
// in what TYPE holds.
inline std::string
document(const std::string &corps, const std::string &type = "L")
{
	return "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
	       "<SOLVARINE TYPE=\"" +
	       type + "\" ID_CHAMP1=\"Q\" ID_CHAMP2=\"R\">\r\n" + corps +
	       "</SOLVARINE>";
}

inline std::string
fiche(const std::string &q, const std::string &r)
{
	return "<F><Q>" + q + "</Q><R>" + r + "</R></F>\r\n";
}

inline std::string
pasdesepar(int ligne)
{
	return attendu(PASDESEPAR) + std::to_string(ligne) +
	       attendu(FINMESSAGE);
}

// Each test runs in a fresh directory of its own.
class Korvum : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		const auto *t =
		    ::testing::UnitTest::GetInstance()->current_test_info();
		std::string nom =
		    std::string(t->test_suite_name()) + "." + t->name();
		for (char &c : nom)
			if (c == '/')
				c = '_';
		nouveaudossier(nom);
	}
	void TearDown() override
	{
		std::filesystem::current_path(KORVUM_ESSAIS);
	}
};

// Run korvum and check that it wrote nothing on standard output.
inline Issue
lance(const std::vector<std::string> &args, const Panne &panne = {})
{
	Issue r = korvum(args, panne);
	EXPECT_EQ(r.out, "") << "standard output must stay empty";
	return r;
}

struct Cas {
	std::string quoi;
	std::vector<std::string> separ; // empty: korvum's default
	std::string source;
	std::string corps; // the document's body
	std::string err;   // standard error
};

inline void
convertit(const std::vector<Cas> &cas)
{
	for (const auto &c : cas) {
		SCOPED_TRACE(c.quoi);
		ecris("source.txt", c.source);
		std::vector<std::string> args = {"source.txt", "but.xml"};
		args.insert(args.end(), c.separ.begin(), c.separ.end());
		Issue r = lance(args);
		EXPECT_EQ(r.statut, 0);
		EXPECT_EQ(r.err, c.err);
		EXPECT_EQ(lis("but.xml"), document(c.corps));
	}
}

// A test of what only a POSIX system can do skips on Windows, saying so.
#ifdef _WIN32
#define POSIX_SEULEMENT(quoi) GTEST_SKIP() << quoi " has no Windows equivalent"
#else
#define POSIX_SEULEMENT(quoi)
#endif
