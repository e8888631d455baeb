/*
 * What korvum.exe says on a console or to a file, and its console of its
 * own: started alone in one (a double click, lists dropped on it), it
 * asks which lists to convert and how, converts each beside it, and waits
 * for a key before that console closes.
 */

#include "extern.h"
#include "lignes.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <io.h>
#include <windows.h>

/* Warnings not yet written, in code page 850. */
static struct {
	char texte[8192];
	size_t n;
} retenus;

/* The dialogue: whether it runs, and the lines reported in a list's run. */
static struct {
	bool ouvert;
	std::int64_t signalees;
	std::int64_t derniere; /* the line of the last report, counted once */
} dialogue;

/* What a name is to the dialogue. */
enum Genre {
	G_ABSENT,   /* no file of that name */
	G_DOSSIER,  /* a folder */
	G_VIDE,     /* an empty file, which korvum may replace */
	G_DOCUMENT, /* an XML document */
	G_AUTRE,    /* any other file: a list */
	G_ILLISIBLE /* a file that cannot be read (held by another program) */
};

/*
 * The separators looked for in a list, and how much of it is read: a
 * list of words is far shorter, a large one tells its separator early.
 */
static const char CANDIDATS[] = ";\t,|=:";
static constexpr size_t APERCU = 1 << 20; /* 1 MiB of text */
static const char EXTENSION[] = ".xml";   /* the document's */
static const char DOSSIERS[] = "\\/:";    /* what ends a folder in a name */

static_assert(sizeof DOUBLECLIC <= 512 && sizeof TOUCHE <= 512,
    "message() takes 512 characters");

static bool console();
static bool convertirliste(const char *);
static char *demanderliste();
static long separateurdeslignes(const char *);
static bool choisirseparateur(long, char32_t *);
static char *choisirdocument(const char *);
static const char *horsdossier(const char *);
static char *dansledossier(const char *, const char *, size_t, const char *);
static size_t compterfiches(const char *);
static Genre genre(const char *);
static bool estliste(Genre);
static char *reponse(bool);
static void dire(const char *, std::initializer_list<const char *> = {});
static const char *nombre(char *, size_t);

/*
 * Whether korvum.exe runs alone in a console that shows its messages and
 * takes keys, as Explorer starts it, a console that closes at its end.
 */
bool
consoleapart()
{
	DWORD liste[2], mode;

	return GetConsoleProcessList(liste, 2) == 1 &&
	       GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
	       GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
}

/*
 * At exit, in a console of its own: say where korvum is used from and
 * wait for a key typed after (not Shift, Ctrl or Alt alone; Ctrl+C is a
 * key, so that the exit status stays the run's), so that it can be read.
 */
void
attendre()
{
	HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
	INPUT_RECORD e;
	DWORD mode, n;

	if (GetConsoleMode(h, &mode))
		(void)SetConsoleMode(h, mode & ~(DWORD)ENABLE_PROCESSED_INPUT);
	(void)FlushConsoleInputBuffer(h);
	if (dialogue.ouvert)
		message("\n", 1);
	else
		message(DOUBLECLIC, sizeof DOUBLECLIC - 1);
	message(TOUCHE, sizeof TOUCHE - 1);
	while (ReadConsoleInputW(h, &e, 1, &n) && n == 1) {
		const KEY_EVENT_RECORD &t = e.Event.KeyEvent;
		if (e.EventType == KEY_EVENT && t.bKeyDown &&
		    t.wVirtualKeyCode != VK_SHIFT &&
		    t.wVirtualKeyCode != VK_CONTROL &&
		    t.wVirtualKeyCode != VK_MENU)
			break;
	}
}

/*
 * Write one message in one write, after the warnings held: in Unicode to
 * a console, in code page 850 (the French console's) to a file.
 */
void
message(const char *m, size_t n)
{
	HANDLE h = (HANDLE)_get_osfhandle(canal);
	wchar_t w[512];
	char o[1024];
	DWORD mode;
	int k = MultiByteToWideChar(CP_UTF8, 0, m, (int)n, w, 512);

	lacher();
	if (console()) {
		(void)WriteConsoleW(h, w, (DWORD)k, &mode, nullptr);
		return;
	}
	k = WideCharToMultiByte(850, 0, w, k, o, sizeof o, nullptr, nullptr);
	(void)_write(canal, o, (unsigned)k);
}

/*
 * A warning about a line: at once to a console; otherwise held, so that a
 * warning a line costs no system call a line.  Its line is counted.
 */
void
retenir(const char *m, size_t n)
{
	wchar_t w[512];

	dialogue.signalees += ligne != dialogue.derniere;
	dialogue.derniere = ligne;
	if (console()) {
		message(m, n);
		return;
	}
	int k = MultiByteToWideChar(CP_UTF8, 0, m, (int)n, w, 512);
	if (sizeof retenus.texte - retenus.n < 1024)
		lacher();
	retenus.n += (size_t)WideCharToMultiByte(
	    850, 0, w, k, retenus.texte + retenus.n, 1024, nullptr, nullptr);
}

/* Write the warnings held. */
void
lacher()
{
	if (retenus.n > 0)
		(void)_write(canal, retenus.texte, (unsigned)retenus.n);
	retenus.n = 0;
}

/* Whether standard error is a console; asked once. */
static bool
console()
{
	static int oui = -1;
	DWORD mode;

	if (oui < 0)
		oui = GetConsoleMode((HANDLE)_get_osfhandle(canal), &mode) != 0;
	return oui == 1;
}

/*
 * Whether korvum.exe, alone in its console, was given lists to convert:
 * no name (it asks for one), or only names of files that are not XML
 * documents.  Any other command line is a run as from cmd.
 */
bool
sontdeslistes(int argc, char **argv)
{
	for (int i = 1; i < argc; i++)
		if (!estliste(genre(argv[i])))
			return false;
	return true;
}

/*
 * Convert each list given, or the one asked for when none was, each after
 * its questions; 0 when every list was converted, 1 otherwise.  A failure
 * that ends the run (a read that fails) ends the dialogue, after the key.
 */
int
dialoguer(int argc, char **argv)
{
	bool tous = true;

	dialogue.ouvert = true;
	dire(BIENVENUE);
	if (argc < 2) {
		char *liste = demanderliste();
		if (liste != nullptr)
			tous = convertirliste(liste);
		std::free(liste);
	}
	for (int i = 1; i < argc; i++)
		tous = convertirliste(argv[i]) && tous;
	return tous ? 0 : 1;
}

/*
 * Say what is about to be done with the list, ask, and convert it as any
 * run does; then say what the document holds.  Whether it was converted.
 */
static bool
convertirliste(const char *liste)
{
	char32_t sep;
	char *doc;
	const char *pourquoi;
	char n[24], m[24];

	dire(LISTE, {liste});
	long trouve = separateurdeslignes(liste);
	if (trouve < 0) {
		dire(OUVRIRENTREE);
		return false;
	}
	if (!choisirseparateur(trouve, &sep))
		return false;
	if ((doc = choisirdocument(liste)) == nullptr) {
		dire(LAISSEE);
		return false;
	}
	if ((pourquoi = ouvrirfichiers(liste, doc)) == nullptr) {
		parametrer(doc, sep);
		dialogue.signalees = 0;
		dialogue.derniere = -1;
		rediger();
	}
	/* (a target not opened leaves renoncer nothing to do) */
	if (!fermetout() && pourquoi == nullptr)
		pourquoi = ECRIRE;
	if (pourquoi != nullptr) {
		renoncer();
		dire(pourquoi);
	} else {
		size_t f = compterfiches(doc);
		dire(BILAN, {nombre(n, f), f > 1 ? FICHESECRITES : FICHEECRITE,
		                doc, nombre(m, (size_t)dialogue.signalees),
		                dialogue.signalees > 1 ? SIGNALEES : SIGNALEE});
	}
	std::free(doc);
	return pourquoi == nullptr;
}

/*
 * The list to convert, asked for until a name is one (a file dropped on
 * the console window types its name); nullptr when none is typed.
 */
static char *
demanderliste()
{
	char *nom;

	for (;;) {
		dire(QUELLELISTE);
		if ((nom = reponse(true)) == nullptr || *nom == '\0') {
			std::free(nom);
			return nullptr;
		}
		Genre g = genre(nom);
		if (estliste(g))
			return nom;
		dire(g == G_DOCUMENT ? PASUNDOCUMENT : PASUNELISTE, {nom});
		std::free(nom);
	}
}

/*
 * The one of CANDIDATS that more than half the list's lines (neither blank
 * nor markup) hold, and more than any other; 0 when none does or two tie,
 * -1 when the list cannot be opened.  Its first APERCU bytes are read as a
 * run reads them (remplir: UTF-16 decoded); a line ends at an LF or a CR.
 */
static long
separateurdeslignes(const char *liste)
{
	static char *texte;
	static size_t place;
	size_t tient[sizeof CANDIDATS - 1] = {}, lignes = 0, n = 0, r;

	if ((entree = ouvrirsource(liste)) < 0)
		return -1;
	char *t = reserver(&texte, &place, APERCU + BLOC);
	ouvrirtexte();
	while (n < APERCU && (r = remplir(t + n, APERCU + BLOC - n)) > 0)
		n += r;
	fermertexte();
	fermetout();
	std::memset(t + n, '\n', MARGE);
	for (const char *s = t, *e; s < t + n; s = e + 1) {
		for (e = s; !est<FINCR>(*e); e++)
			;
		const char *d = debutchaine(s, e);
		if (d == e || est<BALISE1>(*d))
			continue;
		lignes++;
		for (size_t i = 0; i < sizeof tient / sizeof tient[0]; i++)
			if (std::memchr(d, CANDIDATS[i], (size_t)(e - d)))
				tient[i]++;
	}
	size_t *fin = tient + sizeof tient / sizeof tient[0];
	size_t *le = std::max_element(tient, fin);
	return std::count(tient, fin, *le) > 1 || 2 * *le <= lignes
	           ? 0
	           : CANDIDATS[le - tient];
}

/*
 * Ask for the separator: Enter takes trouve (the lines' one, if any), a
 * name of NOMMES its character, any other answer its first character, as
 * on the command line.  False when the console gives no more.
 */
static bool
choisirseparateur(long trouve, char32_t *sep)
{
	char vu[8] = {};
	const char *nom = vu;
	char *r;

	vu[enutf8(vu, (char32_t)trouve)] = '\0';
	for (const Nomme &c : NOMMES)
		if (nom == vu && c.car == trouve)
			nom = c.nom;
	for (;;) {
		dire(trouve != 0 ? SEPARATEUR : QUELSEPARATEUR, {nom});
		if ((r = reponse(false)) == nullptr)
			return false;
		*sep =
		    *r != '\0' ? caractereargument(r, false) : (char32_t)trouve;
		for (const Nomme &c : NOMMES)
			if (std::strcmp(r, c.nom) == 0)
				*sep = (unsigned char)c.car;
		std::free(r);
		if (*sep != 0)
			return true;
	}
}

/*
 * Ask for the document's name: Enter takes the list's, EXTENSION for its
 * extension; a name typed without a folder goes in the list's.  A document
 * of that name is replaced only when the user says OUI, any other file
 * never (another name is asked).  nullptr when none is given.
 */
static char *
choisirdocument(const char *liste)
{
	const char *f = horsdossier(liste), *point = std::strrchr(f, '.');
	const char *question = QUELDOCUMENT;
	char *r, *nom;

	nom = dansledossier(liste, f,
	    point != nullptr ? (size_t)(point - f) : std::strlen(f), EXTENSION);
	for (;;) {
		dire(question, {nom});
		if ((r = reponse(true)) == nullptr ||
		    (*r == '\0' && question == AUTRENOM)) {
			std::free(r);
			std::free(nom);
			return nullptr;
		}
		if (*r != '\0') {
			std::free(nom);
			nom = dansledossier(
			    std::strpbrk(r, DOSSIERS) != nullptr ? "" : liste,
			    r, std::strlen(r), "");
		}
		std::free(r);
		Genre g = genre(nom);
		if (g == G_ABSENT)
			return nom;
		if (g == G_VIDE || g == G_DOCUMENT) {
			dire(REMPLACER, {nom});
			bool oui = (r = reponse(true)) != nullptr &&
			           _stricmp(r, OUI) == 0;
			std::free(r);
			if (oui)
				return nom;
		} else
			dire(g == G_ILLISIBLE ? OUVRIRSORTIE : NONREMPLACE,
			    {nom});
		question = AUTRENOM;
	}
}

/* Where the name of the file that chemin names begins, past its folder. */
static const char *
horsdossier(const char *chemin)
{
	const char *f = chemin + std::strlen(chemin);

	while (f > chemin && !std::strchr(DOSSIERS, f[-1]))
		f--;
	return f;
}

/*
 * The folder of chemin (up to its last DOSSIERS), the n first bytes of
 * nom and suffixe, in a name of its own.
 */
static char *
dansledossier(
    const char *chemin, const char *nom, size_t n, const char *suffixe)
{
	size_t d = (size_t)(horsdossier(chemin) - chemin),
	       k = std::strlen(suffixe);

	auto *c = (char *)std::malloc(d + n + k + 1);
	if (c == nullptr)
		erreur(LIRE);
	std::memcpy(c, chemin, d);
	std::memcpy(c + d, nom, n);
	std::memcpy(c + d + n, suffixe, k + 1);
	return c;
}

/*
 * How many records the document holds: its lines that begin with a
 * record's first tags (korvum writes one a line); 0 if unreadable.
 */
static size_t
compterfiches(const char *doc)
{
	static constexpr size_t NF = sizeof OUVREFICHE - 1, HORS = NF + 1;
	char b[65536];
	size_t fiches = 0, k = 0; /* bytes of OUVREFICHE met, or HORS */
	int fd = ouvrirsource(doc), n;

	if (fd < 0)
		return 0;
	while ((n = _read(fd, b, sizeof b)) > 0)
		for (int i = 0; i < n; i++)
			if (b[i] == '\n')
				k = 0;
			else if (k < NF && b[i] == OUVREFICHE[k]) {
				if (++k == NF) {
					fiches++;
					k = HORS;
				}
			} else
				k = HORS;
	fermer(fd);
	return fiches;
}

/*
 * What the file nom is: none, a folder, or a file: empty, an XML document
 * (declarationxml, as a target is told), another, or one not readable.
 */
static Genre
genre(const char *nom)
{
	char tete[TETE];
	wchar_t *w = versutf16(nom);
	DWORD a = GetFileAttributesW(w);

	std::free(w);
	if (a == INVALID_FILE_ATTRIBUTES)
		return G_ABSENT;
	if (a & FILE_ATTRIBUTE_DIRECTORY)
		return G_DOSSIER;
	long n = debutbut(nom, tete, sizeof tete);
	return n < 0    ? G_ILLISIBLE
	       : n == 0 ? G_VIDE
	       : declarationxml((const unsigned char *)tete, (size_t)n)
	           ? G_DOCUMENT
	           : G_AUTRE;
}

/* Whether a file of that kind is a list to convert. */
static bool
estliste(Genre g)
{
	return g == G_VIDE || g == G_AUTRE || g == G_ILLISIBLE;
}

/*
 * The line typed, in UTF-8 and without its line end, allocated; for a
 * name (nom), without the blanks at its ends nor the double quotes that
 * a file dropped on the console window types around it.  nullptr when the
 * console gives no more.  A line longer than a name may be is cut.
 */
static char *
reponse(bool nom)
{
	static wchar_t w[32768 + 2]; /* the longest name, and its line end */
	HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
	DWORD n = 0, lus;

	do {
		if (n == sizeof w / sizeof w[0])
			n = 0;
		if (!ReadConsoleW(h, w + n, (DWORD)(sizeof w / sizeof w[0] - n),
		        &lus, nullptr) ||
		    lus == 0)
			return nullptr;
		n += lus;
	} while (w[n - 1] != L'\n');
	while (n > 0 && (w[n - 1] == L'\n' || w[n - 1] == L'\r'))
		n--;
	w[n] = L'\0';
	wchar_t *d = w;
	if (nom) {
		auto blanc = [](wchar_t c) {
			return c < 0x80 && est<BLANC>((char)c);
		};
		while (n > 0 && blanc(w[n - 1]))
			w[--n] = L'\0';
		while (blanc(*d))
			d++;
		if (*d == L'"' && n > 1 && w[n - 1] == L'"') {
			w[n - 1] = L'\0';
			d++;
		}
	}
	return versutf8(d);
}

/*
 * Write modele, each % in it replaced by the next of mots, to the console,
 * in pieces that message takes whole (512 bytes, cut between characters).
 */
static void
dire(const char *modele, std::initializer_list<const char *> mots)
{
	size_t n = std::strlen(modele), k;
	const char *const *mot = mots.begin();

	for (const char *m : mots)
		n += std::strlen(m);
	auto *t = (char *)std::malloc(n + 1), *d = t;
	if (t == nullptr)
		erreur(LIRE);
	for (const char *p = modele; *p != '\0'; p++)
		if (*p == '%' && mot != mots.end()) {
			k = std::strlen(*mot);
			std::memcpy(d, *mot++, k);
			d += k;
		} else
			*d++ = *p;
	for (const char *p = t; p < d; p += k) {
		k = d - p < 512 ? (size_t)(d - p) : 512;
		while (p + k < d && (p[k] & 0xc0) == 0x80)
			k--;
		message(p, k);
	}
	std::free(t);
}

/* The number n written at b, 24 bytes. */
static const char *
nombre(char *b, size_t n)
{
	*std::to_chars(b, b + 23, n).ptr = '\0';
	return b;
}
