/*
 * The document: its prologue, its records and markup lines, its closing
 * tag, and the output buffer they go through.  Text of a decoded source
 * is written here, its escapes as character references.
 */

#include "extern.h"

#include <charconv>
#include <cstring>

static char doc[TAILLEDOC + MARGE]; /* document bytes not yet written */
static size_t doclen;

static void emettre(const char *, size_t);
static void texte(const char *, size_t);
static void vider();
static void copie(char *, const char *, size_t);

/* Begin the document: an empty buffer, the declaration and the root. */
void
ouvrirdocument()
{
	static const char DECLARATION[] =
	    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
	static const char RACINE[] = "<SOLVARINE TYPE=\"";
	static const char CHAMPS[] = "\" ID_CHAMP1=\"Q\" ID_CHAMP2=\"R\">\r\n";

	doclen = 0;
	emettre(DECLARATION, sizeof DECLARATION - 1);
	emettre(RACINE, sizeof RACINE - 1);
	emettre((const char *)&typedoc, 1);
	emettre(CHAMPS, sizeof CHAMPS - 1);
}

/* End the document with its closing tag, and write out what is left. */
void
fermerdocument()
{
	static const char FIN[] = "</SOLVARINE>";

	emettre(FIN, sizeof FIN - 1);
	vider();
}

/*
 * Append a markup line, its text [s, s + n) as it stands, with a line end
 * when it had one.
 */
void
balise(const char *s, size_t n, bool lf)
{
	texte(s, n);
	if (lf)
		emettre("\r\n", 2);
}

/*
 * Append n bytes to the document; a piece larger than the buffer goes
 * straight to the target.
 */
static void
emettre(const char *p, size_t n)
{
	if (n > TAILLEDOC - doclen) {
		vider();
		if (n >= TAILLEDOC) {
			if (!ecrire(p, n))
				erreur(ECRIRE);
			return;
		}
	}
	std::memcpy(doc + doclen, p, n);
	doclen += n;
}

/*
 * Append text of the source to the document: as it is, but for the
 * escapes of a decoded source, each written as the decimal character
 * reference of what it holds (&#937;).
 */
static void
texte(const char *s, size_t n)
{
	const char *fin = s + n, *e;

	if (!decodee() || echappes == 0) {
		emettre(s, n);
		return;
	}
	while ((e = cherche(s, fin, ECH)) != nullptr) {
		char r[12] = "&#";
		char *p = std::to_chars(
		    r + 2, r + sizeof r - 1, (unsigned long)caractereech(e))
		              .ptr;
		*p++ = ';';
		emettre(s, (size_t)(e - s));
		emettre(r, (size_t)(p - r));
		s = e + LECH;
	}
	emettre(s, (size_t)(fin - s));
}

/* Write out the document's buffered bytes. */
static void
vider()
{
	if (doclen > 0 && !ecrire(doc, doclen))
		erreur(ECRIRE);
	doclen = 0;
}

/*
 * Copy n bytes in steps of 32, most fields in one; the last step may copy
 * up to 31 bytes too many, from and into the buffers' margins, where the
 * next piece lands.
 */
static inline void
copie(char *d, const char *s, size_t n)
{
	for (size_t i = 0; i == 0 || i < n; i += 32)
		std::memcpy(d + i, s + i, 32);
}

/* Append the record <F><Q>q</Q><R>r</R></F> and its line end. */
void
enregistrement(const char *q, size_t nq, const char *r, size_t nr)
{
	static const char F[] = "<F><Q>", QR[] = "</Q><R>",
	                  FF[] = "</R></F>\r\n";
	size_t n = sizeof F - 1 + nq + sizeof QR - 1 + nr + sizeof FF - 1;

	if (n > TAILLEDOC - doclen ||
	    (echappes > 0 && decodee() && cherche(q, r + nr, ECH) != nullptr)) {
		emettre(F, sizeof F - 1);
		texte(q, nq);
		emettre(QR, sizeof QR - 1);
		texte(r, nr);
		emettre(FF, sizeof FF - 1);
		return;
	}
	char *p = doc + doclen;
	std::memcpy(p, F, sizeof F - 1);
	p += sizeof F - 1;
	copie(p, q, nq);
	p += nq;
	std::memcpy(p, QR, sizeof QR - 1);
	p += sizeof QR - 1;
	copie(p, r, nr);
	p += nr;
	std::memcpy(p, FF, sizeof FF - 1);
	doclen += n;
}
