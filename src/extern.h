/*
 * What crosses korvum's files: the state of a run and the procedures that
 * more than one file calls (defs.h holds the sizes and the types,
 * messages.h the messages; the types that only the reader and the lexer
 * share stand with the lexer's procedures).
 *
 *	main.cpp	the command line, main, the files a run opens
 *	korvum.cpp	the run: its state, the fatal path, messages about lines
 *	lignes.cpp	the line loop (lignes.h: the rules of a line)
 *	clairs.cpp	runs of plain lines, straight from the sweep's masks
 *	balayage.cpp	the sweep: masks of 64 bytes, and searches of a byte
 *	document.cpp	the document: its output buffer, records, references
 *	ecrivain.cpp	the writer: the document written out beside the run
 *	lecteur.cpp	the document as a reader reads it: what is well-formed
 *	syntaxe.cpp	XML's spelling: names, tags, references, comments' ends
 *	source.cpp	the source: its mark, its encoding, its text
 *	codages.cpp	windows-1252's table, what a line's bytes tell
 *	decodage.cpp	UTF-8 and UTF-16 decoded, with their vector steps
 *	posix.cpp	the system, on POSIX systems
 *	windows.cpp	the system, on Windows
 *	console.cpp	korvum.exe's messages, and its console of its own:
 *			the dialogue for the lists dropped on it
 */
#pragma once

#include "defs.h"
#include "messages.h"

/* korvum.cpp: the state of a run, and the run. */
extern int entree;            /* the source */
extern int sortie;            /* the target document */
extern int canal;             /* where messages go: standard error */
extern char32_t separ;        /* separator character; 0 for none */
extern std::int64_t ligne;    /* physical line number */
extern unsigned char typedoc; /* TYPE of the root element */
extern Jeu jeu;               /* the vector steps the decoders take */

/* The ways through the line loop, which the fuzzer's replay must all take. */
enum Chemin {
	SOIGNEE,     /* the loop's careful way, a line at a time */
	SIMPLE,      /* the loop's way for a line with nothing to see */
	CLAIRS,      /* a run of plain lines */
	CLAIRSIGNES, /* a run of plain lines with signs */
	CLAIRSAVX2,  /* the same two, built for AVX2 */
	CLAIRSIGNESAVX2,
	DECODEES, /* a block of UTF-8 lines decoded as read */
	NCHEMINS
};
extern std::uint64_t chemins[NCHEMINS];
inline void
emprunter(Chemin c)
{
#ifdef KORVUM_CHEMINS
	chemins[c]++;
#else
	(void)c;
#endif
}

void rediger();
bool fermetout();
/* (out of line, so that the runs of lines do not keep its line number) */
__attribute__((noinline)) void avertir();
void avertirligne(std::int64_t, const char *, size_t);
[[noreturn]] void erreur(const char *);
char *reserver(char **, size_t *, size_t);

/* main.cpp */
const char *ouvrirfichiers(const char *, const char *);
void parametrer(const char *, char32_t);
bool declarationxml(const unsigned char *, size_t);
char32_t caractereargument(const char *, bool);

/* lignes.cpp, clairs.cpp */
void convertir();
size_t prendreclaires(const char *, size_t, size_t, const Lot *, size_t);

/* balayage.cpp */
size_t balayer(const char *, const char *, bool, char, Lot *);
std::uint64_t signes(const char *);
const char *cherche(const char *, const char *, int);
const char *cherchebloc(const char *, const char *, int);
size_t premierhaut(const char *, size_t);

/* document.cpp */
void ouvrirdocument();
void fermerdocument();
void balise(const char *, size_t, bool);
void enregistrement(Champ, Champ, const char *, std::uint64_t);
char *place(char **);
void rendre(char *);
char *fiche(char *, Champ, Champ);
char *fichesignes(char *, Champ, Champ, const char *, std::uint64_t);

/* ecrivain.cpp */
void livrer(const char *, size_t);
bool ecrits();

/* lecteur.cpp */
void ouvrirlecteur();
void fermerlecteur();
bool lecteurlibre();
void suivre(const char *, size_t, bool);
bool ouvrirchamp();
void fermerchamp();
void suivrenous(bool);
const char *construction(const char *, const char *);
const char *garder(const char *, const char *, bool);

/* syntaxe.cpp: XML's spelling, and what it tells the reader. */
/* Where the reader stands between two pieces; the first two are free. */
enum Etat {
	CONTENU,     /* in an element's content */
	FINI,        /* not well-formed: reported, nothing more to follow */
	COMMENTAIRE, /* in a comment begun in an earlier piece */
	CDATA,       /* in a CDATA section, likewise */
	INSTRUCTION, /* in a processing instruction, likewise */
	APRES        /* the root element is closed: blanks, comments, PIs */
};

/* What the lexer found at a '<'. */
enum Sorte {
	OUVRANTE,  /* a start tag */
	BALISEFIN, /* an end tag */
	VIDE,      /* an empty-element tag */
	COMPLETE,  /* a whole comment, CDATA section or PI */
	ENCOURS,   /* one of those, well-formed so far, still open at the end */
	MAUVAISE   /* not well-formed */
};

/* What the lexer read: where it stopped, the name it met, and why not. */
struct Lu {
	const char *suite;
	const char *nom;
	size_t lnom;
	Etat ouvert; /* for COMPLETE and ENCOURS: which kind */
	Raison raison;
};

size_t reference(const char *, const char *);
const char *blancsxml(const char *, const char *);
const char *nomxml(const char *, const char *);
Sorte lexer(const char *, const char *, bool, Lu *);
const char *finbloc(Etat, const char *, const char *, Lu *);
void fermerattributs();
void *agrandir(void *, size_t *, size_t, size_t);

/* source.cpp */
void ouvrirtexte();
void fermertexte();
size_t remplir(char *, size_t);
void tarir();
bool huitbits();
bool avantconnu();
bool decodee();
bool deciderdebut(const char *, const char *, const char *, bool, bool);
size_t decoderlignes(char **, size_t, size_t, size_t);
bool decodeealecture(const char *);
bool tenirdecodee(bool);
bool lisibletelle(const char *, const char *);
bool parleursoctets(const char *, const char *);
void dit1252();
const char *texteligne(
    const char *, const char *, const char *, const char **, bool);

/* codages.cpp */
char32_t car1252(unsigned char);
int octet1252(char32_t);
long sequenceutf8(const unsigned char *, const unsigned char *, int *);
Dit classer(const char *, const char *, const char *, bool, bool);
Jeu jeuprocesseur();
int octetinterne(char32_t);
size_t enutf8(char *, char32_t);

/* decodage.cpp */
extern size_t echappes; /* escapes held in the decoded text so far */
size_t decodeutf8(char *, const unsigned char *, size_t, size_t *);
size_t decodeutf16(char *, const unsigned char *, size_t, bool, bool, size_t *);

/* Write c at d as its escape, whatever it is; return its length. */
inline size_t
echapper(char *d, char32_t c)
{
	d[0] = (char)ECH;
	d[1] = (char)(BITECH | (c >> 14 & 0x7f));
	d[2] = (char)(BITECH | (c >> 7 & 0x7f));
	d[3] = (char)(BITECH | (c & 0x7f));
	echappes++;
	return LECH;
}

/* Write c at d, its windows-1252 byte or its escape; return its length. */
inline size_t
interne(char *d, char32_t c)
{
	int b = octetinterne(c);

	if (b < 0)
		return echapper(d, c);
	d[0] = (char)b;
	return 1;
}

/* posix.cpp or windows.cpp */
void preparer(int *, char ***);
int ouvrirsource(const char *);
bool memefichier(const char *);
long debutbut(const char *, char *, size_t);
int ouvrirbut(const char *);
bool lire(char *, size_t, size_t *);
bool ecrire(const char *, size_t);
bool fermer(int);
bool fermerbut();
void renoncer();
void tenirfins();
bool lancer(void (*)());
void verrouiller();
void deverrouiller();
void patienter();
void eveiller();

/* posix.cpp, or console.cpp on Windows */
void message(const char *, size_t);
void retenir(const char *, size_t);
void lacher();

/* windows.cpp and console.cpp, on Windows only */
char *versutf8(const wchar_t *);
wchar_t *versutf16(const char *);
bool consoleapart();
void attendre();
bool sontdeslistes(int, char **);
int dialoguer(int, char **);
