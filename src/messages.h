/*
 * Every text korvum writes on standard error, in UTF-8, each spelled once:
 * the program writes them (the Windows build for its console, or in code
 * page 850), the tests build the messages they expect from them, and the
 * fuzzer reads standard error with them.
 */
#pragma once

#include <cstddef>

/* The messages that end a run, or say how to start one. */
inline constexpr char SYNTAXE[] =
    "Syntaxe : \"korvum <fichier_source> <fichier_but> <séparateur>\"\n";
inline constexpr char DEFAUT[] = "Le séparateur est un caractère blanc par "
                                 "défaut.\n";
inline constexpr char OUVRIRENTREE[] =
    "Impossible d'ouvrir le fichier d'entrée!\n";
inline constexpr char OUVRIRSORTIE[] =
    "Impossible d'ouvrir le fichier de sortie!\n";
inline constexpr char LIRE[] = "Impossible de lire le fichier d'entrée!\n";
inline constexpr char ECRIRE[] = "Impossible d'écrire le fichier de sortie!\n";
inline constexpr char MEMEFICHIER[] =
    "Le fichier de sortie est le fichier d'entrée!\n";
inline constexpr char PASXML[] = "Le fichier de sortie n'est pas un document "
                                 "XML : korvum ne le remplace pas!\n";

/* About a line: PASDESEPAR N, or MESSAGELIGNE N JOINT text; then FINMESSAGE. */
inline constexpr char PASDESEPAR[] = "Pas de séparateur ligne ";
inline constexpr char MESSAGELIGNE[] = "Ligne ";
inline constexpr char JOINT[] = " : ";
inline constexpr char FINMESSAGE[] = ".\n";

/* The text about a line that held a character XML forbids. */
inline constexpr char CARINTERDIT[] =
    "caractère interdit en XML, remplacé par U+FFFD";

/*
 * The text about the line where the document stops being well-formed:
 * DOCILLISIBLE and the reason, where % stands for the name at fault (COUPE
 * when there is none, COUPE after it when it was shortened); for an
 * element left open on an earlier line, DELALIGNE and that line follow its
 * name in place of the reason's '>'.
 */
inline constexpr char DOCILLISIBLE[] = "document illisible, ";
inline constexpr char COUPE[] = "...";
inline constexpr char DELALIGNE[] = "> de la ligne ";

/* Why a document is not well-formed (lecteur.cpp), and what it says. */
enum Raison {
	R_INFERIEUR,
	R_ESPERLUETTE,
	R_ENTITE,
	R_CARACTERE,
	R_BALISE,
	R_DOUBLE,
	R_INACHEVEE,
	R_NONFERMEE,
	R_SANSOUVRANTE,
	R_TIRETS,
	R_COMMENTAIRE,
	R_CDATA,
	R_INSTRUCTION,
	R_PIMAL,
	R_XML,
	R_DECLARATION,
	R_CROCHETS,
	R_APRES,
	R_RACINE,
	R_NOMBRE /* not a reason: how many there are */
};
inline constexpr struct Pourquoi {
	Raison raison;
	const char *texte;
} POURQUOI[] = {
    {R_INFERIEUR, "caractère < seul (à écrire &lt;)"},
    {R_ESPERLUETTE, "caractère & seul (à écrire &amp;)"},
    {R_ENTITE, "référence &%; inconnue"},
    {R_CARACTERE, "référence à un caractère interdit"},
    {R_BALISE, "balise <%> mal formée"},
    {R_DOUBLE, "attribut % en double"},
    {R_INACHEVEE, "balise <% inachevée"},
    {R_NONFERMEE, "balise <%> non fermée"},
    {R_SANSOUVRANTE, "balise </%> sans balise ouvrante"},
    {R_TIRETS, "-- dans un commentaire"},
    {R_COMMENTAIRE, "commentaire non fermé"},
    {R_CDATA, "section CDATA non fermée"},
    {R_INSTRUCTION, "instruction <?% non fermée"},
    {R_PIMAL, "instruction <?%> mal formée"},
    {R_XML, "déclaration <?xml ?> en trop"},
    {R_DECLARATION, "déclaration <!...> interdite dans le document"},
    {R_CROCHETS, "]]> hors d'une section CDATA"},
    {R_APRES, "texte après la balise </SOLVARINE>"},
    {R_RACINE, "balise </SOLVARINE> avant la fin de la liste"},
};
/* Whether POURQUOI holds one text per Raison, in the enum's order. */
constexpr bool
pourquoientier()
{
	size_t n = sizeof(POURQUOI) / sizeof(POURQUOI[0]);
	for (size_t i = 0; i < n; i++)
		if (POURQUOI[i].raison != (Raison)i)
			return false;
	return n == (size_t)R_NOMBRE;
}
static_assert(pourquoientier(), "one text per Raison, in its order");

/*
 * What korvum.exe says, in a console of its own, before that console
 * closes: each line shorter than the 80 columns of a console window.
 * DOUBLECLIC when it was not given lists, TOUCHE always.
 */
inline constexpr char DOUBLECLIC[] =
    "\n"
    "korvum s'utilise dans une fenêtre de commandes (cmd ou PowerShell).\n"
    "Le fichier LISEZMOI.txt, à côté de korvum.exe, explique comment.\n";
inline constexpr char TOUCHE[] =
    "Appuyez sur une touche pour fermer cette fenêtre.\n";

/*
 * The dialogue of korvum.exe alone in its console, for the lists dropped
 * on it (console.cpp): each % stands for a name or a number, in order.
 * The questions end where the answer is typed.
 */
inline constexpr char BIENVENUE[] =
    "Chaque liste devient un document XML, à côté d'elle.\n"
    "Entrée accepte ce qui est entre crochets ; tapez autre chose pour le "
    "changer.\n";
inline constexpr char QUELLELISTE[] =
    "\nListe à convertir (tapez son nom, ou glissez-la ici) : ";
inline constexpr char PASUNELISTE[] = "Pas de liste de ce nom : %\n";
inline constexpr char PASUNDOCUMENT[] =
    "% est un document XML, pas une liste.\n";
inline constexpr char LISTE[] = "\nListe : %\n";
inline constexpr char SEPARATEUR[] = "Séparateur [%] : ";
inline constexpr char QUELSEPARATEUR[] =
    "Séparateur (aucun ne se dégage des lignes ; tapez-le) : ";
inline constexpr char QUELDOCUMENT[] = "Document [%] : ";
inline constexpr char REMPLACER[] =
    "Le document % existe déjà. Le remplacer ? [o/N] : ";
inline constexpr char NONREMPLACE[] =
    "% n'est pas un document XML : korvum ne le remplace pas.\n";
inline constexpr char AUTRENOM[] =
    "Autre nom (Entrée seule : laisser cette liste) : ";
inline constexpr char LAISSEE[] = "Liste laissée, pas de document.\n";
inline constexpr char BILAN[] = "% % dans %, % %.\n";
inline constexpr char FICHEECRITE[] = "fiche écrite";
inline constexpr char FICHESECRITES[] = "fiches écrites";
inline constexpr char SIGNALEE[] = "ligne signalée";
inline constexpr char SIGNALEES[] = "lignes signalées";
inline constexpr char OUI[] = "o"; /* the answer that replaces a document */

/* The separators that a typed name stands for, and their names shown. */
inline constexpr struct Nomme {
	char car;
	const char *nom;
} NOMMES[] = {{'\t', "tabulation"}, {'\t', "tab"}, {' ', "espace"}};
