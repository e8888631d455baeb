/*
 * The document: its prologue, its records and markup lines, its closing
 * tag, and the output buffer they go through.  What the source holds is
 * written so that a reader reads what the user typed: a character the
 * document's encoding lacks, a control character XML forbids, and in a
 * field a '<' or '&' that begins no markup the field completes, are
 * written as references.  The reader (lecteur.cpp) follows what is
 * written.
 */

#include "extern.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

/* The buffers: one fills while the writer writes out the others. */
static char tampons[ENVOL + 1][TAILLEDOC + MARGE];
static size_t encours;         /* the one that fills */
static char *doc = tampons[0]; /* document bytes not yet written */
static size_t doclen;
static char *champs[2]; /* a large record's fields as written */
static size_t placechamps[2];
/*
 * A record's tags, each with room to be written in one store: what
 * follows a tag covers its spare bytes, and the last one's store leaves
 * the first tags of a record after it, so that a run of records writes
 * them once.
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
	for (size_t i = 0; i < NF; i++)
		b.f[i] = b.ff[NFF + i] = OUVREFICHE[i];
	for (size_t i = 0; i < NQR; i++)
		b.qr[i] = ENTRECHAMPS[i];
	for (size_t i = 0; i < NFF; i++)
		b.ff[i] = FERMEFICHE[i];
	return b;
}();
static bool interdit; /* a forbidden character was replaced on this line */

static void morceaux(Champ, Champ, const char *, std::uint64_t);
static char *ecrirefiche(
    char *, Champ, Champ, const char *, std::uint64_t, bool);
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

	doclen = 0;
	interdit = false;
	emettre(DECLARATION, sizeof DECLARATION - 1);
	emettre(RACINE, sizeof RACINE - 1);
	/* A quote, '<' or '&' would end or break the attribute, a blank
	 * would read as a space, an unassigned byte would not read at all:
	 * each is a reference.  A control XML forbids is '?'. */
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

/*
 * End the document: the reader follows its closing tag, which is written
 * with what is left.
 */
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
		std::free(champs[i]);
		champs[i] = nullptr;
		placechamps[i] = 0;
	}
}

/*
 * Append a markup line, its text [s, s + n) as it stands but for what
 * must be a reference, with a line end when it had one; the reader
 * follows it.
 */
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
 * Append the record of the fields q and r and its line end; the first byte of
 * theirs that needs attention stands at signe, or past them.  Fields
 * that hold none are copied as they stand, most records in one go into
 * the buffer; others go through morceaux.  When bits is not 0, it holds
 * the bytes that need attention among the 64 from signe, a bit each, and
 * the fields hold no other.
 */
void
enregistrement(Champ q, Champ r, const char *signe, std::uint64_t bits)
{
	if (signe < r.p + r.n || !lecteurlibre() ||
	    TAILLEFICHE + q.n + r.n > TAILLEDOC - doclen) {
		morceaux(q, r, signe, bits);
		return;
	}
	char *limite;
	rendre(fiche(place(&limite), q, r));
}

/*
 * Where the next piece goes in the buffer, and in *fin where its room
 * ends, for fiche; rendre says how much was written there.  The tags that
 * begin a record are written there already.
 */
char *
place(char **fin)
{
	*fin = doc + TAILLEDOC;
	std::memcpy(doc + doclen, BALISES.f, sizeof BALISES.f);
	return doc + doclen;
}

void
rendre(char *d)
{
	doclen = (size_t)(d - doc);
}

/*
 * Write at d, where its first tags stand already (see place), the record
 * of the fields c, which hold nothing that needs attention, and say
 * where it ends: TAILLEFICHE bytes and the fields', and up to 31 more
 * past the end may be written, among them the tags that begin the next
 * record.  The reader must be free (see lecteurlibre).
 */
char *
fiche(char *d, Champ q, Champ r)
{
	return ecrirefiche(d, q, r, nullptr, 0, false);
}

/*
 * fiche, for fields whose first byte that needs attention stands at
 * signe, or past them: they are written as a reader reads them, the
 * reader following them (see morceaux).  pireplace(c.nq + c.nr) bytes
 * must be there, which are the most it takes.  The signs may come in
 * bits, as for enregistrement.
 */
char *
fichesignes(char *d, Champ q, Champ r, const char *signe, std::uint64_t bits)
{
	return ecrirefiche(d, q, r, signe, bits, true);
}

/*
 * The record writer of fiche and fichesignes: each field as it stands,
 * or, signee, through champ; the tags between, each whole.
 */
__attribute__((always_inline)) static inline char *
ecrirefiche(char *d, Champ q, Champ r, const char *signe, std::uint64_t bits,
    bool signee)
{
	d += NF;
	if (signee)
		d = champ(q.p, q.n, d, signe >= q.p + q.n, signe, bits);
	else {
		copievecteur(d, q.p, q.n);
		d += q.n;
	}
	std::memcpy(d, BALISES.qr, sizeof BALISES.qr);
	d += NQR;
	if (signee)
		d = champ(r.p, r.n, d, signe >= r.p + r.n, signe, bits);
	else {
		copievecteur(d, r.p, r.n);
		d += r.n;
	}
	std::memcpy(d, BALISES.ff, sizeof BALISES.ff);
	if (signee)
		signaler();
	return d + NFF;
}

/*
 * Append a record whose fields are not propre, or which does not fit in
 * what is left of the buffer: its fields are written by proteger, into
 * the buffer when the most they can take fits there, and the reader
 * follows them.  In content, it follows only the markup they keep, as
 * they are written; elsewhere (in a comment that a markup line left open,
 * ...) it reads the whole record.
 */
static void
morceaux(Champ q, Champ r, const char *signe, std::uint64_t bits)
{
	bool propre = signe >= r.p + r.n;
	size_t pire = pireplace(q.n + r.n);
	bool libre = lecteurlibre();

	if (pire > TAILLEDOC - doclen)
		vider();
	if (libre && pire <= TAILLEDOC) {
		char *limite;
		rendre(fichesignes(place(&limite), q, r, signe, bits));
		return;
	}
	const char *m[5] = {OUVREFICHE, q.p, ENTRECHAMPS, r.p, FERMEFICHE};
	size_t n[5] = {NF, q.n, NQR, r.n, NFF};
	for (int i = 1; i < 5 && !propre; i += 2) {
		/* a field's own buffer, for a record too large for the
		 * document's */
		char *b =
		    reserver(&champs[i / 2], &placechamps[i / 2], 8 * n[i]);
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
 * Write the field [s, s + n) at d and say where it ends: as it stands
 * when propre, otherwise through proteger, the reader following it when
 * it can.
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

/*
 * Append n bytes to the document; a piece larger than the buffer goes
 * straight to the target, and is written before the call returns.
 */
static void
emettre(const char *p, size_t n)
{
	if (n > TAILLEDOC - doclen) {
		vider();
		if (n >= TAILLEDOC) {
			livrer(p, n);
			if (!ecrits())
				erreur(ECRIRE);
			return;
		}
	}
	std::memcpy(doc + doclen, p, n);
	doclen += n;
}

/*
 * When the document cannot take the character at p as it stands, write
 * at d the reference that stands for it, say how long that is, and put
 * in *lu how many bytes of the source it took; 0 when it can.  The escape
 * of a decoded source becomes the reference of its character; an
 * unassigned byte of windows-1252, that of the control character Windows
 * maps it to; a control character XML forbids, and U+FFFE and U+FFFF,
 * that of U+FFFD, and the line is to be reported.  Up to 10 bytes are
 * written.
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

/*
 * Append text of the source to the document, as it is but for what
 * remplacer writes as a reference.
 */
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
 * Write the field [s, s + n) at d as the document must hold it, and say
 * where that ends: a '<' that begins markup the field completes stays,
 * any other is "&lt;"; a '&' that begins a reference a reader resolves
 * stays, any other is "&amp;"; "]]>" is "]]&gt;"; and what remplacer
 * writes as a reference is one.  At most eight bytes a byte, and up to 31
 * more may be written past the end.  When suivi, the reader follows the
 * markup kept.  The bytes that need attention are found 64 at a time,
 * unless bits holds them (see enregistrement).
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
				/* Inside kept markup: only what remplacer
				 * writes. */
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

/*
 * Hand the document's buffered bytes over to the writer, and go on in the
 * next buffer, which the writer is done with.
 */
static void
vider()
{
	if (doclen > 0) {
		livrer(doc, doclen);
		encours = (encours + 1) % (ENVOL + 1);
		doc = tampons[encours];
	}
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
	std::memcpy(d, s, 32);
	while (n > 32) {
		d += 32;
		s += 32;
		n -= 32;
		std::memcpy(d, s, 32);
	}
}

/*
 * copie, its first step as one vector: a single move in the plain lines'
 * loop built for AVX2, where fiche uses it (elsewhere a vector kept by a
 * loop goes through memory).
 */
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
