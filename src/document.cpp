/*
 * The document: prologue, records, markup lines, closing tag, and the
 * buffers they go through.  What a reader would not read as the user
 * typed it (a character windows-1252 lacks, a control XML forbids, a '<'
 * or '&' of a field that begins no markup) is written as a reference.
 */

#include "extern.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

/* The output: one buffer fills while the writer writes out the others. */
static struct {
	char tampons[ENVOL + 1][TAILLEDOC + MARGE];
	size_t encours;       /* the one that fills */
	char *p = tampons[0]; /* its bytes not yet handed over */
	size_t n;             /* how many */
	char *champs[2];      /* a record too large for a buffer: its fields */
	size_t placechamps[2];
} doc;
/*
 * A record's tags, each written in one store whose spare bytes what
 * follows covers; the last store writes the next record's first tags.
 */
enum {
	NF = sizeof OUVREFICHE - 1,
	NQR = sizeof ENTRECHAMPS - 1,
	NFF = sizeof FERMEFICHE - 1
};
static_assert(NF <= 8 && NQR <= 8 && NFF + NF <= 16);
static constexpr struct Balises {
	char f[8], qr[8], ff[16];
} BALISES = [] {
	Balises b{};
	std::copy_n(OUVREFICHE, NF, b.f);
	std::copy_n(OUVREFICHE, NF, b.ff + NFF);
	std::copy_n(ENTRECHAMPS, NQR, b.qr);
	std::copy_n(FERMEFICHE, NFF, b.ff);
	return b;
}();
static bool interdit; /* a forbidden character was replaced on this line */

static void morceaux(Champ, Champ, const char *, std::uint64_t);
static char *ecrirefiche(
    char *, Champ, Champ, const char *, std::uint64_t, bool);
static char *ecrirechamp(char *, Champ, const char *, std::uint64_t, bool);
static void emettre(const char *, size_t);
static size_t remplacer(const char *, char *, size_t *);
static void texte(const char *, size_t);
static char *champ(
    const char *, size_t, char *, bool, const char *, std::uint64_t);
static char *proteger(
    const char *, size_t, char *, bool, const char *, std::uint64_t);
static void signaler();
static void vider();
static void copie(char *, const char *, size_t);
static void copievecteur(char *, const char *, size_t);

/* Begin the document: an empty buffer, the declaration and the root. */
void
ouvrirdocument()
{
	static const char DECLARATION[] =
	    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
	static const char RACINE[] = "<SOLVARINE TYPE=\"";
	static const char CHAMPS[] = "\" ID_CHAMP1=\"Q\" ID_CHAMP2=\"R\">\r\n";
	static const char REFERENCE[] = "\"<&\t\n\r";
	char t[8] = {(char)typedoc};
	size_t n = 1;

	doc.n = 0;
	interdit = false;
	emettre(DECLARATION, sizeof DECLARATION - 1);
	emettre(RACINE, sizeof RACINE - 1);
	/* A reference for what would break the attribute, read as a space
	 * or not read at all; '?' for a control XML forbids. */
	if ((typedoc != 0 && std::strchr(REFERENCE, typedoc) != nullptr) ||
	    nonassigne(typedoc)) {
		t[0] = '&';
		t[1] = '#';
		n = (size_t)(std::to_chars(t + 2, t + 6, typedoc).ptr - t);
		t[n++] = ';';
	} else if (typedoc < 0x20)
		t[0] = '?';
	emettre(t, n);
	emettre(CHAMPS, sizeof CHAMPS - 1);
	ouvrirlecteur();
}

/* End the document: its closing tag, all written, the reader told. */
void
fermerdocument()
{
	static const char FIN[] = "</SOLVARINE>";

	fermerlecteur();
	emettre(FIN, sizeof FIN - 1);
	vider();
	if (!ecrits())
		erreur(ECRIRE);
	for (int i = 0; i < 2; i++) {
		std::free(doc.champs[i]);
		doc.champs[i] = nullptr;
		doc.placechamps[i] = 0;
	}
}

/* Append the markup line [s, s + n), and CRLF when lf; the reader follows. */
__attribute__((noinline)) void
balise(const char *s, size_t n, bool lf)
{
	suivre(s, n, lf);
	texte(s, n);
	if (lf)
		emettre("\r\n", 2);
	signaler();
}

/*
 * Append the record of q and r, whose first byte that needs attention is
 * at signe or past them; bits, when not 0, marks all such bytes among
 * the 64 from signe.  Clean fields that fit are copied in one go.
 */
void
enregistrement(Champ q, Champ r, const char *signe, std::uint64_t bits)
{
	if (signe < r.p + r.n || !lecteurlibre() ||
	    TAILLEFICHE + q.n + r.n > TAILLEDOC - doc.n) {
		morceaux(q, r, signe, bits);
		return;
	}
	char *limite;
	rendre(fiche(place(&limite), q, r));
}

/* Where fiche writes next, its first tags there; in *fin, the buffer's end. */
char *
place(char **fin)
{
	*fin = doc.p + TAILLEDOC;
	std::memcpy(doc.p + doc.n, BALISES.f, sizeof BALISES.f);
	return doc.p + doc.n;
}

/* The buffer's bytes end at d, where fiche stopped. */
void
rendre(char *d)
{
	doc.n = (size_t)(d - doc.p);
}

/*
 * Write at d (see place) the record of clean fields and return its end;
 * up to 31 bytes past it are written.  The reader must be free.
 */
char *
fiche(char *d, Champ q, Champ r)
{
	return ecrirefiche(d, q, r, nullptr, 0, false);
}

/*
 * fiche for fields that need attention (signe and bits as for
 * enregistrement), the reader following; needs pireplace(q.n + r.n).
 */
char *
fichesignes(char *d, Champ q, Champ r, const char *signe, std::uint64_t bits)
{
	return ecrirefiche(d, q, r, signe, bits, true);
}

/* fiche and fichesignes: the tags, and each field by ecrirechamp. */
__attribute__((always_inline)) static inline char *
ecrirefiche(char *d, Champ q, Champ r, const char *signe, std::uint64_t bits,
    bool signee)
{
	d = ecrirechamp(d + NF, q, signe, bits, signee);
	std::memcpy(d, BALISES.qr, sizeof BALISES.qr);
	d = ecrirechamp(d + NQR, r, signe, bits, signee);
	std::memcpy(d, BALISES.ff, sizeof BALISES.ff);
	if (signee)
		signaler();
	return d + NFF;
}

/* A field of ecrirefiche's at d: as it stands, or, signee, through champ. */
__attribute__((always_inline)) static inline char *
ecrirechamp(
    char *d, Champ c, const char *signe, std::uint64_t bits, bool signee)
{
	if (signee)
		return champ(c.p, c.n, d, signe >= c.p + c.n, signe, bits);
	copievecteur(d, c.p, c.n);
	return d + c.n;
}

/*
 * Append a record that needs attention or does not fit: by fichesignes
 * when it fits a buffer and the reader is free, else piece by piece, the
 * reader reading the whole record (in a comment left open, ...).
 */
static void
morceaux(Champ q, Champ r, const char *signe, std::uint64_t bits)
{
	bool propre = signe >= r.p + r.n;
	size_t pire = pireplace(q.n + r.n);
	bool libre = lecteurlibre();

	if (pire > TAILLEDOC - doc.n)
		vider();
	if (libre && pire <= TAILLEDOC) {
		char *limite;
		rendre(fichesignes(place(&limite), q, r, signe, bits));
		return;
	}
	const char *m[5] = {OUVREFICHE, q.p, ENTRECHAMPS, r.p, FERMEFICHE};
	size_t n[5] = {NF, q.n, NQR, r.n, NFF};
	for (int i = 1; i < 5 && !propre; i += 2) {
		char *b = reserver(
		    &doc.champs[i / 2], &doc.placechamps[i / 2], 8 * n[i]);
		n[i] = (size_t)(champ(m[i], n[i], b, false, signe, bits) - b);
		m[i] = b;
	}
	signaler();
	for (int i = 0; i < 5; i++) {
		if (!libre) {
			suivrenous(i % 2 == 0);
			suivre(m[i], n[i], false);
		}
		emettre(m[i], n[i]);
	}
	suivrenous(false);
}

/*
 * Write the field [s, s + n) at d, return its end: as it stands when
 * propre, else through proteger, followed by the reader in content.
 */
static inline char *
champ(const char *s, size_t n, char *d, bool propre, const char *signe,
    std::uint64_t bits)
{
	if (propre) {
		copie(d, s, n);
		return d + n;
	}
	if (!ouvrirchamp())
		return proteger(s, n, d, false, signe, bits);
	d = proteger(s, n, d, true, signe, bits);
	fermerchamp();
	return d;
}

/* Append n bytes; a piece larger than a buffer is written at once. */
static void
emettre(const char *p, size_t n)
{
	if (n > TAILLEDOC - doc.n) {
		vider();
		if (n >= TAILLEDOC) {
			livrer(p, n);
			if (!ecrits())
				erreur(ECRIRE);
			return;
		}
	}
	std::memcpy(doc.p + doc.n, p, n);
	doc.n += n;
}

/*
 * When the character at p cannot stand as it is, write at d (up to 10
 * bytes) its reference, return its length and put in *lu the bytes it
 * took; else 0.  An escape gives its character, an unassigned byte the
 * control Windows maps it to; a forbidden control, U+FFFE or U+FFFF gives
 * U+FFFD and the line is reported.
 */
static size_t
remplacer(const char *p, char *d, size_t *lu)
{
	auto b = (unsigned char)*p;
	char32_t c = b;

	*lu = 1;
	if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') {
		c = 0xfffd;
		interdit = true;
	} else if (b == ECH && decodee()) {
		c = caractereech(p);
		*lu = LECH;
		if (c == 0xfffe || c == 0xffff) {
			c = 0xfffd;
			interdit = true;
		}
	} else if (!nonassigne(b))
		return 0;
	char *e = std::to_chars(d + 2, d + 10, (unsigned long)c).ptr;
	d[0] = '&';
	d[1] = '#';
	*e++ = ';';
	return (size_t)(e - d);
}

/* Append source text, with remplacer's references. */
static void
texte(const char *s, size_t n)
{
	const char *fin = s + n, *p = s;
	char r[12];
	size_t k, lu;

	while (p < fin) {
		if ((k = remplacer(p, r, &lu)) == 0) {
			p++;
			continue;
		}
		emettre(s, (size_t)(p - s));
		emettre(r, k);
		s = p += lu;
	}
	emettre(s, (size_t)(fin - s));
}

/*
 * Write the field [s, s + n) at d as the document holds it, return its
 * end: "&lt;" for a '<' that begins no markup the field completes,
 * "&amp;" for a '&' that begins no reference, "]]&gt;" for "]]>", and
 * remplacer's references.  At most 8 bytes a byte, and up to 31 past the
 * end.  When suivi, the reader follows the markup kept.
 */
static char *
proteger(const char *s, size_t n, char *d, bool suivi, const char *signe,
    std::uint64_t bits)
{
	static const char LT[8] = "&lt;", AMP[8] = "&amp;", GT[8] = "]]&gt;";
	const char *fin = s + n, *balise = s; /* markup kept up to there */
	size_t k, lu;

	for (const char *b = bits != 0 ? signe : s; b < fin; b += 64) {
		std::uint64_t m = bits != 0 ? bits : signes(b);
		if (fin - b < 64)
			m &= (1ull << (fin - b)) - 1;
		for (; m != 0; m &= m - 1) {
			const char *e = b + std::countr_zero(m), *x = nullptr;
			if (e < s)
				continue; /* within what was written already */
			copie(d, s, (size_t)(e - s));
			d += e - s;
			s = e;
			if (s < balise) {
				/* in kept markup: remplacer's only */
			} else if (*s == '<') {
				const char *f = garder(s, fin, suivi);
				if (f == nullptr)
					x = LT;
				else
					balise = f;
			} else if (*s == '&') {
				if ((k = reference(s, fin)) == 0)
					x = AMP;
				else
					balise = s + k;
			} else if (*s == ']' && fin - s >= 3 && s[1] == ']' &&
			           s[2] == '>') {
				x = GT;
				s += 2;
			}
			if (x != nullptr) {
				k = x == GT ? 6 : x == LT ? 4 : 5;
				std::memcpy(d, x, 8);
				d += k;
				s++;
			} else if (((unsigned char)*s < 0x20 ||
			               (unsigned char)*s >= 0x80) &&
			           (k = remplacer(s, d, &lu)) != 0) {
				d += k;
				s += lu;
			} else
				*d++ = *s++;
		}
		if (bits != 0)
			break; /* bits held them all */
	}
	copie(d, s, (size_t)(fin - s));
	return d + (fin - s);
}

/* Report the line, once, when a forbidden character was replaced on it. */
static void
signaler()
{
	if (interdit)
		avertirligne(ligne, CARINTERDIT, sizeof CARINTERDIT - 1);
	interdit = false;
}

/* Hand the buffer to the writer; go on in the next, which it is done with. */
static void
vider()
{
	if (doc.n > 0) {
		livrer(doc.p, doc.n);
		doc.encours = (doc.encours + 1) % (ENVOL + 1);
		doc.p = doc.tampons[doc.encours];
	}
	doc.n = 0;
}

/* Copy n bytes by 32; up to 31 more are read and written, in the margins. */
static inline void
copie(char *d, const char *s, size_t n)
{
	std::memcpy(d, s, 32);
	while (n > 32) {
		d += 32;
		s += 32;
		n -= 32;
		std::memcpy(d, s, 32);
	}
}

/* copie, its first step one vector move, for fiche in the AVX2 loop. */
static inline void
copievecteur(char *d, const char *s, size_t n)
{
	typedef char Pas __attribute__((vector_size(32)));
	Pas v;

	std::memcpy(&v, s, 32);
	std::memcpy(d, &v, 32);
	if (n > 32)
		copie(d + 32, s + 32, n - 32);
}
