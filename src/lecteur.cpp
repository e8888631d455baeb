/*
 * The document as an XML reader reads it.  korvum follows what it writes
 * the way a conforming reader does: elements opened and closed in order,
 * comments, CDATA sections and processing instructions closed, references
 * that resolve without a DTD, names and attributes as XML spells them.
 * The first place where the document stops being well-formed is reported
 * once, with the source's line, since a reader refuses the whole document
 * from there.  The document is still written as the markup asks.
 *
 * It reads the pieces of the body one at a time: a markup line with its
 * line end, and the parts of a record.  Every piece begins with '<' or is
 * a field whose markup is complete (see construction), so only a comment,
 * a CDATA section or a processing instruction can run from one piece into
 * the next.  What it keeps is the names of the open elements.
 *
 * The same lexer tells the document writer which '<' and '&' of a field
 * begin markup the field completes.  It reads the text as the line loop
 * holds it or as it is written, alike: the bytes that become references
 * when written (escapes, forbidden controls, windows-1252's unassigned
 * bytes) are, in both forms, neither names, nor blanks, nor delimiters.
 */

#include "extern.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

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
	OUVRANTE, /* a start tag */
	FERMANTE, /* an end tag */
	VIDE,     /* an empty-element tag */
	COMPLETE, /* a whole comment, CDATA section or PI */
	ENCOURS,  /* one of those, well-formed so far, still open at the end */
	MAUVAISE  /* not well-formed */
};

/* What the lexer read: where it stopped, the name it met, and why not. */
struct Lu {
	const char *suite;
	const char *nom;
	size_t lnom;
	Etat ouvert; /* for COMPLETE and ENCOURS: which kind */
	Raison raison;
};

/* An open element: its name in noms, the line it was opened on. */
struct Ouvert {
	size_t nom, lnom;
	std::int64_t ligne;
	bool nous; /* opened by korvum itself: the root, a record's tags */
};

static Etat etat, retour;      /* where the reader stands; and after */
static std::int64_t lignebloc; /* where the open comment, ... began */
static std::int64_t lignefin;  /* where the root element was closed */
static bool nous;              /* the piece is korvum's own tags */
static size_t plancher;        /* elements a field may not close */
static bool finsource;         /* the source is over: the closing tag */
static Ouvert *pile;           /* the open elements, the root first */
static size_t hauteur, placepile;
static char *noms; /* their names */
static size_t lnoms, placenoms;

/* An attribute's name, and the table that finds a repeated one. */
struct Attribut {
	const char *nom;
	size_t lnom;
};
static Attribut *attributs;
static size_t nattributs, placeattributs;
struct Case {
	std::uint32_t generation, indice;
};
static Case *table; /* a slot is free when of an older generation */
static size_t placetable;
static std::uint32_t generation; /* of the tag whose names the table holds */

static const char *blancs(const char *, const char *);
static const char *nom(const char *, const char *);
static bool caractere(unsigned long);
static Sorte lexer(const char *, const char *, bool, Lu *);
static Sorte attributsde(const char *, const char *, Lu *);
static bool repete(const char *, size_t);
static bool inserer(size_t);
static const char *finbloc(Etat, const char *, const char *, Lu *);
static const char *contenu(const char *, const char *, bool);
static const char *apres(const char *, const char *, bool);
static void empiler(const char *, size_t);
static void fermer(const char *, size_t);
static void illisible(Raison, const char *, size_t, std::int64_t);
static void *agrandir(void *, size_t *, size_t, size_t);

/*
 * The class of each windows-1252 byte in a name: 1 may begin one, 2 may
 * stand in one.  The letters are those of every edition of XML; the four
 * signs the fifth edition added (€ ˆ ˜ ™) are left out, as readers that
 * follow the earlier ones refuse them.
 */
static constexpr struct Classes {
	unsigned char t[256];
} CLASSE = [] {
	Classes c{};
	for (int b = 0; b < 256; b++) {
		bool debut = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
		             b == '_' || b == ':' ||
		             (b >= 0xc0 && b != 0xd7 && b != 0xf7) ||
		             b == 0x83 || b == 0x8a || b == 0x8c || b == 0x8e ||
		             b == 0x9a || b == 0x9c || b == 0x9e || b == 0x9f;
		bool dans = debut || b == '-' || b == '.' ||
		            (b >= '0' && b <= '9') || b == 0xb7;
		c.t[b] = (unsigned char)((debut ? 1 : 0) | (dans ? 2 : 0));
	}
	return c;
}();

/* Start following a document: its root is open, nothing else. */
void
ouvrirlecteur()
{
	etat = CONTENU;
	hauteur = lnoms = plancher = 0;
	nous = true;
	finsource = false;
	empiler("SOLVARINE", 9);
	nous = false;
}

/*
 * Follow the end of the document: korvum's closing tag, and whatever is
 * still open.  An element, a comment, ... left open is reported on the
 * line where it began.
 */
void
fermerlecteur()
{
	static const char FIN[] = "</SOLVARINE>";

	finsource = nous = true;
	if (etat == APRES)
		illisible(R_RACINE, nullptr, 0, lignefin);
	else
		suivre(FIN, sizeof FIN - 1, false);
	if (etat == COMMENTAIRE || etat == CDATA || etat == INSTRUCTION)
		illisible(etat == COMMENTAIRE ? R_COMMENTAIRE
		          : etat == CDATA     ? R_CDATA
		                              : R_INSTRUCTION,
		    nullptr, 0, lignebloc);
	std::free(pile);
	std::free(noms);
	std::free(attributs);
	std::free(table);
	pile = nullptr;
	noms = nullptr;
	attributs = nullptr;
	table = nullptr;
	placepile = placenoms = placeattributs = placetable = 0;
}

/*
 * Whether a record whose fields hold no '<', '&', ']' nor a byte that
 * becomes a reference may go by unread: the reader is in content, where
 * such a record changes nothing, or it has already given up.
 */
bool
lecteurlibre()
{
	return etat <= FINI;
}

/*
 * Follow the piece [p, p + n) of the document; lf tells that a line end
 * follows it.
 */
void
suivre(const char *p, size_t n, bool lf)
{
	const char *fin = p + n;
	Lu lu;

	while (p < fin && etat != FINI) {
		switch (etat) {
		case CONTENU:
			p = contenu(p, fin, lf);
			break;
		case APRES:
			p = apres(p, fin, lf);
			break;
		case COMMENTAIRE:
		case CDATA:
		case INSTRUCTION:
			if (finbloc(etat, p, fin, &lu) == nullptr)
				return; /* still open */
			if (lu.suite == nullptr) {
				illisible(lu.raison, nullptr, 0, ligne);
				return;
			}
			etat = etat == CDATA ? CONTENU : retour;
			p = lu.suite;
			break;
		case FINI:
			return;
		}
	}
}

/*
 * Begin following a field of a record, the reader being in content: the
 * markup the writer keeps is handed over as it is kept (garder), and the
 * elements it opens must close in the field, as the field's own Q or R
 * element closes after it.  Returns whether the reader follows it.
 */
bool
ouvrirchamp()
{
	if (etat != CONTENU)
		return false;
	plancher = hauteur;
	return true;
}

/* End following a field: an element left open in it is reported. */
void
fermerchamp()
{
	if (etat == CONTENU && hauteur > plancher)
		illisible(R_NONFERMEE, noms + pile[hauteur - 1].nom,
		    pile[hauteur - 1].lnom, ligne);
	plancher = 0;
}

/* Mark the pieces that follow as korvum's own tags, or the user's. */
void
suivrenous(bool n)
{
	nous = n;
}

/*
 * Where the markup that the field [p, fin) holds at p, a '<', ends, when
 * it is well-formed and ends in the field: a tag (whether its element is
 * closed is the reader's business), a comment, a CDATA section, a PI.
 * nullptr when the '<' is text.
 */
const char *
construction(const char *p, const char *fin)
{
	return garder(p, fin, false);
}

/*
 * construction, and when suivi, the reader follows the markup kept, in
 * the field it follows (ouvrirchamp).
 */
const char *
garder(const char *p, const char *fin, bool suivi)
{
	Lu lu;
	Sorte s = lexer(p, fin, false, &lu);

	if (s == MAUVAISE || s == ENCOURS)
		return nullptr;
	if (suivi && etat == CONTENU && s == OUVRANTE)
		empiler(lu.nom, lu.lnom);
	else if (suivi && etat == CONTENU && s == FERMANTE)
		fermer(lu.nom, lu.lnom);
	return lu.suite;
}

/*
 * The length of the reference at p, a '&', when it is one a reader
 * resolves without a DTD: one of the five that XML defines, or a
 * character reference to a character XML allows.  0 when the '&' is text.
 */
size_t
reference(const char *p, const char *fin)
{
	const char *s = p + 1;

	if (s < fin && *s == '#') {
		bool hex = ++s < fin && *s == 'x';
		unsigned long v = 0;
		const char *d = s += hex ? 1 : 0;
		for (; s < fin; s++) {
			unsigned c = (unsigned char)*s, k;
			if (c >= '0' && c <= '9')
				k = c - '0';
			else if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
				k = (c | 0x20) - 'a' + 10;
			else
				break;
			v = v * (hex ? 16 : 10) + k;
			if (v > 0x110000)
				v = 0x110000;
		}
		if (s == d || s == fin || *s != ';' || !caractere(v))
			return 0;
		return (size_t)(s + 1 - p);
	}
	static const char *const CONNUES[] = {
	    "amp", "lt", "gt", "quot", "apos"};
	const char *e = nom(s, fin);
	if (e == s || e == fin || *e != ';')
		return 0;
	for (const char *c : CONNUES)
		if ((size_t)(e - s) == std::strlen(c) &&
		    std::memcmp(s, c, (size_t)(e - s)) == 0)
			return (size_t)(e + 1 - p);
	return 0;
}

/* Whether XML allows the character c in a document. */
static bool
caractere(unsigned long c)
{
	return c == 9 || c == 10 || c == 13 || (c >= 0x20 && c < 0xd800) ||
	       (c >= 0xe000 && c < 0xfffe) || (c >= 0x10000 && c < 0x110000);
}

/* Past the blanks of XML (space, TAB, CR, LF) at p. */
static const char *
blancs(const char *p, const char *fin)
{
	while (p < fin && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'))
		p++;
	return p;
}

/* The end of the name at p, or p when none begins there. */
static const char *
nom(const char *p, const char *fin)
{
	if (p == fin || (CLASSE.t[(unsigned char)*p] & 1) == 0)
		return p;
	while (++p < fin && (CLASSE.t[(unsigned char)*p] & 2) != 0)
		;
	return p;
}

/*
 * Read the markup at p, a '<', up to fin at most; lf tells that a line
 * end follows fin.  What it is, where it ends, and the name it holds.
 */
static Sorte
lexer(const char *p, const char *fin, bool lf, Lu *lu)
{
	size_t n = (size_t)(fin - p);
	const char *s;

	lu->suite = nullptr;
	lu->nom = p + 1;
	lu->lnom = 0;
	if (n >= 2 && p[1] == '!') {
		if (n >= 4 && std::memcmp(p, "<!--", 4) == 0) {
			lu->ouvert = COMMENTAIRE;
			s = finbloc(COMMENTAIRE, p + 4, fin, lu);
		} else if (n >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) {
			lu->ouvert = CDATA;
			s = finbloc(CDATA, p + 9, fin, lu);
		} else {
			lu->raison = R_DECLARATION;
			return MAUVAISE;
		}
	} else if (n >= 2 && p[1] == '?') {
		/* A target that is a name, but not xml in any case, and a
		 * blank before what follows it, unless that is ?>. */
		lu->ouvert = INSTRUCTION;
		lu->nom = p + 2;
		s = nom(p + 2, fin);
		lu->lnom = (size_t)(s - lu->nom);
		lu->raison = R_PIMAL;
		if (lu->lnom == 0)
			return MAUVAISE;
		if (lu->lnom == 3 && (p[2] | 0x20) == 'x' &&
		    (p[3] | 0x20) == 'm' && (p[4] | 0x20) == 'l') {
			lu->raison = R_XML;
			return MAUVAISE;
		}
		if (fin - s >= 2 && s[0] == '?' && s[1] == '>') {
			lu->suite = s + 2;
			return COMPLETE;
		}
		if (s == fin ? !lf : blancs(s, fin) == s)
			return MAUVAISE;
		s = finbloc(INSTRUCTION, s, fin, lu);
	} else if (n >= 2 && p[1] == '/') {
		lu->nom = p + 2;
		s = nom(p + 2, fin);
		lu->lnom = (size_t)(s - lu->nom);
		s = blancs(s, fin);
		lu->raison = s == fin ? R_INACHEVEE : R_BALISE;
		if (lu->lnom == 0 || s == fin || *s != '>')
			return MAUVAISE;
		lu->suite = s + 1;
		return FERMANTE;
	} else {
		s = nom(p + 1, fin);
		lu->lnom = (size_t)(s - lu->nom);
		if (lu->lnom == 0) {
			lu->raison = R_INFERIEUR;
			return MAUVAISE;
		}
		return attributsde(s, fin, lu);
	}
	if (s == nullptr)
		return ENCOURS;
	return lu->suite == nullptr ? MAUVAISE : COMPLETE;
}

/*
 * Read the rest of a start or empty-element tag from p, past its name:
 * attributes, each a name, '=' and a quoted value, blanks before each, no
 * name twice; then '>' or '/>'.
 */
static Sorte
attributsde(const char *p, const char *fin, Lu *lu)
{
	nattributs = 0;
	for (;;) {
		const char *s = blancs(p, fin), *e, *v;
		lu->raison = R_INACHEVEE;
		if (s == fin || (*s == '/' && s + 1 == fin))
			return MAUVAISE;
		if (*s == '>' || (*s == '/' && s[1] == '>')) {
			lu->suite = s + (*s == '>' ? 1 : 2);
			return *s == '>' ? OUVRANTE : VIDE;
		}
		lu->raison = R_BALISE;
		if (s == p || (e = nom(s, fin)) == s)
			return MAUVAISE;
		if ((v = blancs(e, fin)) < fin && *v == '=')
			v = blancs(v + 1, fin);
		else if (v < fin)
			return MAUVAISE;
		if (v == fin) {
			lu->raison = R_INACHEVEE;
			return MAUVAISE;
		}
		char q = *v++;
		if (q != '"' && q != '\'')
			return MAUVAISE;
		while (v < fin && *v != q) {
			size_t k = *v == '&'   ? reference(v, fin)
			           : *v == '<' ? 0
			                       : 1;
			if (k == 0)
				return MAUVAISE;
			v += k;
		}
		if (v == fin) {
			lu->raison = R_INACHEVEE;
			return MAUVAISE;
		}
		if (repete(s, (size_t)(e - s))) {
			lu->raison = R_DOUBLE;
			lu->nom = s;
			lu->lnom = (size_t)(e - s);
			return MAUVAISE;
		}
		p = v + 1;
	}
}

/*
 * Whether the attribute name [a, a + n) was already given in this tag;
 * it is kept for the next ones.  A few are compared one by one; past
 * that, a table finds them, so that no tag takes time to the square of
 * its length.
 */
static bool
repete(const char *a, size_t n)
{
	const size_t PEU = 16;

	if (nattributs == placeattributs)
		attributs = (Attribut *)agrandir(
		    attributs, &placeattributs, sizeof *attributs, 64);
	attributs[nattributs] = {a, n};
	if (nattributs < PEU) {
		for (size_t i = 0; i < nattributs; i++)
			if (attributs[i].lnom == n &&
			    std::memcmp(attributs[i].nom, a, n) == 0)
				return true;
		nattributs++;
		return false;
	}
	if (nattributs == PEU || 2 * (nattributs + 1) > placetable) {
		if (2 * (nattributs + 1) > placetable) {
			std::free(table);
			for (placetable = 64;
			     placetable < 4 * (nattributs + 1);)
				placetable *= 2;
			table = (Case *)std::calloc(placetable, sizeof *table);
			if (table == nullptr)
				erreur(LIRE);
		}
		if (++generation == 0) {
			std::memset(table, 0, placetable * sizeof *table);
			generation = 1;
		}
		for (size_t i = 0; i < nattributs; i++)
			(void)inserer(i);
	}
	if (inserer(nattributs))
		return true;
	nattributs++;
	return false;
}

/*
 * Put attribute i in the table of this tag's attributes; true when one
 * of the same name is there already.
 */
static bool
inserer(size_t i)
{
	const Attribut &a = attributs[i];
	std::uint32_t h = 2166136261u; /* FNV-1a */

	for (size_t k = 0; k < a.lnom; k++)
		h = (h ^ (unsigned char)a.nom[k]) * 16777619u;
	for (size_t k = h & (placetable - 1);; k = (k + 1) & (placetable - 1)) {
		Case &c = table[k];
		if (c.generation != generation) {
			c = {generation, (std::uint32_t)i};
			return false;
		}
		const Attribut &b = attributs[c.indice];
		if (b.lnom == a.lnom && std::memcmp(b.nom, a.nom, a.lnom) == 0)
			return true;
	}
}

/*
 * Where the comment, CDATA section or PI whose body goes on at p ends:
 * lu->suite past its end, or nullptr with lu->raison when its body is not
 * well-formed (a comment's "--").  nullptr as the result when it is still
 * open at fin.
 */
static const char *
finbloc(Etat e, const char *p, const char *fin, Lu *lu)
{
	const char c = e == COMMENTAIRE ? '-' : e == CDATA ? ']' : '?';

	lu->suite = nullptr;
	lu->raison = R_TIRETS;
	for (; fin - p >= 2; p++) {
		if (p[0] != c || (e != INSTRUCTION && p[1] != c) ||
		    (e == INSTRUCTION && p[1] != '>'))
			continue;
		if (e == INSTRUCTION) {
			lu->suite = p + 2;
			return p;
		}
		if (fin - p >= 3 && p[2] == '>') {
			lu->suite = p + 3;
			return p;
		}
		if (e == COMMENTAIRE)
			return p; /* "--" not followed by '>' */
	}
	return nullptr;
}

/*
 * Follow content from p: text, references, markup.  Returns where the
 * reading stops: fin, or where the reader now stands elsewhere.
 */
static const char *
contenu(const char *p, const char *fin, bool lf)
{
	Lu lu;

	while (p < fin) {
		if (*p == '&') {
			size_t k = reference(p, fin);
			if (k == 0) {
				const char *e = nom(p + 1, fin);
				bool entite = e > p + 1 && e < fin && *e == ';';
				bool num = p + 1 < fin && p[1] == '#';
				illisible(num      ? R_CARACTERE
				          : entite ? R_ENTITE
				                   : R_ESPERLUETTE,
				    p + 1, entite ? (size_t)(e - p - 1) : 0,
				    ligne);
				return fin;
			}
			p += k;
			continue;
		}
		if (*p == ']' && fin - p >= 3 && p[1] == ']' && p[2] == '>') {
			illisible(R_CROCHETS, nullptr, 0, ligne);
			return fin;
		}
		if (*p != '<') {
			p++;
			continue;
		}
		switch (lexer(p, fin, lf, &lu)) {
		case OUVRANTE:
			empiler(lu.nom, lu.lnom);
			break;
		case FERMANTE:
			fermer(lu.nom, lu.lnom);
			if (etat != CONTENU)
				return etat == FINI ? fin : lu.suite;
			break;
		case VIDE:
		case COMPLETE:
			break;
		case ENCOURS:
			etat = lu.ouvert;
			retour = CONTENU;
			lignebloc = ligne;
			return fin;
		case MAUVAISE:
			illisible(lu.raison, lu.nom, lu.lnom, ligne);
			return fin;
		}
		p = lu.suite;
	}
	return p;
}

/*
 * Follow what comes after the root element from p: blanks, comments and
 * processing instructions only.
 */
static const char *
apres(const char *p, const char *fin, bool lf)
{
	Lu lu;

	while ((p = blancs(p, fin)) < fin) {
		Sorte s = *p == '<' ? lexer(p, fin, lf, &lu) : MAUVAISE;
		if ((s == COMPLETE || s == ENCOURS) && lu.ouvert != CDATA) {
			if (s == ENCOURS) {
				etat = lu.ouvert;
				retour = APRES;
				lignebloc = ligne;
				return fin;
			}
			p = lu.suite;
			continue;
		}
		illisible(R_APRES, nullptr, 0, ligne);
		return fin;
	}
	return p;
}

/* Open the element of this name. */
static void
empiler(const char *n, size_t l)
{
	if (hauteur == placepile)
		pile = (Ouvert *)agrandir(pile, &placepile, sizeof *pile, 64);
	while (placenoms - lnoms < l)
		noms = (char *)agrandir(noms, &placenoms, 1, 1024);
	std::memcpy(noms + lnoms, n, l);
	pile[hauteur++] = {lnoms, l, ligne, nous};
	lnoms += l;
}

/*
 * Close the element of this name: it must be the last one opened.  When
 * it is open further down, the one above it was left open; when it is not
 * open at all, the end tag has no start.
 */
static void
fermer(const char *n, size_t l)
{
	const Ouvert *o = pile + hauteur - 1;

	if (hauteur > plancher && o->lnom == l &&
	    std::memcmp(noms + o->nom, n, l) == 0) {
		lnoms = o->nom;
		if (--hauteur == 0) {
			etat = APRES;
			lignefin = ligne;
		}
		return;
	}
	bool plusbas = false;
	for (size_t i = 0; i + 1 < hauteur; i++)
		if (pile[i].lnom == l &&
		    std::memcmp(noms + pile[i].nom, n, l) == 0)
			plusbas = true;
	/* An end tag in a field, whose element the field did not open, or
	 * inside a record that korvum opened: it has no start there.
	 * Otherwise, what is left open above it. */
	if (hauteur == plancher || !plusbas || (o->nous && !nous))
		illisible(R_SANSOUVRANTE, n, l, ligne);
	else
		illisible(R_NONFERMEE, noms + o->nom, o->lnom,
		    finsource || o->ligne == ligne ? o->ligne : -o->ligne);
}

/*
 * Report the document as not well-formed, once, on line l (or, when l is
 * negative, on this line, about an element opened on line -l), with the
 * name n of the markup at fault, in windows-1252, shortened if long.
 */
static void
illisible(Raison r, const char *n, size_t l, std::int64_t ligneerr)
{
	const size_t LONG = 40;
	char m[320], *d = m;
	std::int64_t avant = 0;

	etat = FINI;
	if (ligneerr < 0) {
		avant = -ligneerr;
		ligneerr = ligne;
	}
	std::memcpy(d, DOCILLISIBLE, sizeof DOCILLISIBLE - 1);
	d += sizeof DOCILLISIBLE - 1;
	for (const char *s = POURQUOI[r].texte; *s != '\0'; s++) {
		if (*s != '%') {
			*d++ = *s;
			continue;
		}
		if (l == 0) {
			std::memcpy(d, COUPE, sizeof COUPE - 1);
			d += sizeof COUPE - 1;
		}
		for (size_t i = 0; i < l && i < LONG; i++) {
			auto b = (unsigned char)n[i];
			char32_t c = b < 0x20 ? U'?' : car1252(b);
			if (c < 0x80)
				*d++ = (char)c;
			else if (c < 0x800) {
				*d++ = (char)(0xc0 | c >> 6);
				*d++ = (char)(0x80 | (c & 0x3f));
			} else {
				*d++ = (char)(0xe0 | c >> 12);
				*d++ = (char)(0x80 | (c >> 6 & 0x3f));
				*d++ = (char)(0x80 | (c & 0x3f));
			}
		}
		if (l > LONG) {
			std::memcpy(d, COUPE, sizeof COUPE - 1);
			d += sizeof COUPE - 1;
		}
		if (r == R_NONFERMEE && avant > 0) {
			std::memcpy(d, DELALIGNE, sizeof DELALIGNE - 1);
			d += sizeof DELALIGNE - 1;
			d = std::to_chars(d, m + sizeof m, avant).ptr;
			s++; /* past the '>' */
		}
	}
	avertirligne(ligneerr, m, (size_t)(d - m));
}

/*
 * Make room for more elements of the table p, of place elements of
 * taille bytes each: double it, or give it premier.  A failure ends the
 * run, as a line too long for the memory does.
 */
static void *
agrandir(void *p, size_t *place, size_t taille, size_t premier)
{
	size_t n = *place == 0 ? premier : 2 * *place;
	void *q = std::realloc(p, n * taille);

	if (q == nullptr)
		erreur(LIRE);
	*place = n;
	return q;
}
