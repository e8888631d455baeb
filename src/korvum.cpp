/*
 * The run: the state it starts from, the single fatal path, and the
 * messages about a line.  The line loop is in lignes.cpp.
 */

#include "extern.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

int entree = -1;                 /* the source */
int sortie = -1;                 /* the target document */
int canal = 2;                   /* where messages go: standard error */
char32_t separ = ' ';            /* separator character; 0 for none */
std::int64_t ligne;              /* physical line number */
unsigned char typedoc;           /* TYPE of the root element */
Jeu jeu = BASE;                  /* the vector steps the decoders take */
std::uint64_t chemins[NCHEMINS]; /* how often each way was taken */

/*
 * Write the whole document to sortie: the declaration, the root start tag,
 * a piece for each line of entree, and the closing tag.  All a run changes
 * starts afresh here, so that the fuzzer may run it again and again; what
 * the command line gives (the files, separ, typedoc, jeu) is set before.
 */
void
rediger()
{
	ligne = 0;
	ouvrirtexte();
	ouvrirdocument();
	convertir();
	fermertexte();
	fermerdocument();
	lacher();
}

/*
 * Close whichever file is open; the target, once closed, takes its place.
 * False when its close or placing failed: the document may not be whole.
 */
bool
fermetout()
{
	bool ok = true;

	if (entree >= 0)
		fermer(entree);
	if (sortie >= 0)
		ok = fermerbut();
	entree = sortie = -1;
	return ok;
}

/*
 * The single fatal path: say why, leave no half-written document behind
 * (the target keeps what it held, or, written in place, is emptied), once
 * the writer is done with it, close both files and end with status 1.
 */
void
erreur(const char *msg)
{
	message(msg, std::strlen(msg));
	(void)ecrits();
	renoncer();
	fermetout();
	std::exit(1);
}

/*
 * The buffer *b, of *place bytes, made to hold n bytes and MARGE more;
 * what it held is not kept.  Running out of memory ends the run.
 */
char *
reserver(char **b, size_t *place, size_t n)
{
	if (*place < n + MARGE) {
		std::free(*b);
		if ((*b = (char *)std::malloc(n + MARGE)) == nullptr)
			erreur(LIRE);
		*place = n + MARGE;
	}
	return *b;
}

/* Report the current line as lacking the separator, as one message. */
void
avertir()
{
	char m[sizeof PASDESEPAR + 24 + sizeof FINMESSAGE];
	char *p = m + sizeof PASDESEPAR - 1;
	const auto numero = (std::uint64_t)ligne; /* the shorter conversion */

	std::memcpy(m, PASDESEPAR, sizeof PASDESEPAR - 1);
	p = std::to_chars(p, m + sizeof m - sizeof FINMESSAGE, numero).ptr;
	std::memcpy(p, FINMESSAGE, sizeof FINMESSAGE - 1);
	p += sizeof FINMESSAGE - 1;
	retenir(m, (size_t)(p - m));
}

/* Report line l in one message: "Ligne l : ", texte (to 400 bytes), ".\n". */
void
avertirligne(std::int64_t l, const char *texte, size_t n)
{
	char m[sizeof MESSAGELIGNE + 24 + sizeof JOINT + 400 +
	       sizeof FINMESSAGE];
	char *p = m + sizeof MESSAGELIGNE - 1;

	if (n > 400)
		n = 400;
	std::memcpy(m, MESSAGELIGNE, sizeof MESSAGELIGNE - 1);
	p = std::to_chars(p, m + sizeof m, l).ptr;
	std::memcpy(p, JOINT, sizeof JOINT - 1);
	std::memcpy(p + sizeof JOINT - 1, texte, n);
	p += sizeof JOINT - 1 + n;
	std::memcpy(p, FINMESSAGE, sizeof FINMESSAGE - 1);
	p += sizeof FINMESSAGE - 1;
	retenir(m, (size_t)(p - m));
}
