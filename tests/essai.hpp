// What the suite expects of korvum, shared by its test files: the
// messages, the document around a body, and a table runner that converts
// each source and compares the document, standard error and status whole.
#pragma once

#include "defs.h" // korvum's buffer and window sizes
#include "lancer.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

inline const std::string SYNTAXE =
    "Syntaxe : \"korvum <fichier_source> <fichier_but> <s" EAIGU "parateur>\"\n"
    "Le s" EAIGU "parateur est un caract" EGRAVE "re blanc par d" EAIGU
    "faut.\n";
inline const std::string OUVRIRENTREE =
    "Impossible d'ouvrir le fichier d'entr" EAIGU "e!\n";
inline const std::string OUVRIRSORTIE =
    "Impossible d'ouvrir le fichier de sortie!\n";
inline const std::string LIRE =
    "Impossible de lire le fichier d'entr" EAIGU "e!\n";
inline const std::string ECRIRE =
    "Impossible d'" EAIGU "crire le fichier de sortie!\n";
inline const std::string MEMEFICHIER =
    "Le fichier de sortie est le fichier d'entr" EAIGU "e!\n";
inline const std::string PASXML = "Le fichier de sortie n'est pas un document "
                                  "XML : korvum ne le remplace pas!\n";

// What korvum says of line n when the document stops being well-formed
// there, and why; and when a forbidden character was replaced on it.
inline std::string
illisible(int n, const std::string &pourquoi)
{
	return "Ligne " + std::to_string(n) + " : document illisible, " +
	       pourquoi + ".\n";
}
inline std::string
nonfermee(const std::string &balise)
{
	return "balise <" + balise + "> non ferm" EAIGU "e";
}
inline const std::string INFERIEUR =
    "caract" EGRAVE "re < seul (" AGRAVE " " EAIGU "crire &lt;)";
inline std::string
interdit(int n)
{
	return "Ligne " + std::to_string(n) +
	       " : caract" EGRAVE "re interdit en XML, remplac" EAIGU
	       " par U+FFFD.\n";
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
	return "Pas de s" EAIGU "parateur ligne " + std::to_string(ligne) +
	       ".\n";
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
