/*
 * The document as an XML reader reads it: elements opened and closed in
 * order, comments, CDATA sections and PIs closed, references that resolve
 * without a DTD.  The first place where it stops being well-formed is
 * reported once, with the source's line; the document is still written.
 * The pieces come one at a time (a markup line, the parts of a record);
 * only a comment, CDATA section or PI can run from one into the next.
 * It also tells the writer which '<' and '&' of a field begin markup.
 */

#include "extern.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

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

static const char *contenu(const char *, const char *, bool);
static const char *apres(const char *, const char *, bool);
static void empiler(const char *, size_t);
static void fermer(const char *, size_t);
static void illisible(Raison, const char *, size_t, std::int64_t);

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

/* Follow the closing tag; report what is still open where it began. */
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
	pile = nullptr;
	noms = nullptr;
	placepile = placenoms = 0;
	fermerattributs();
}

/* Whether a record needing no attention may go by unread (see Etat). */
bool
lecteurlibre()
{
	return etat <= FINI;
}

/* Follow the piece [p, p + n), and a line end after when lf. */
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

/* Begin a field, whose elements must close in it; false unless in content. */
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

/* The end of the well-formed markup at p, a '<', in [p, fin); else nullptr. */
const char *
construction(const char *p, const char *fin)
{
	return garder(p, fin, false);
}

/* construction, the reader following the markup kept when suivi. */
const char *
garder(const char *p, const char *fin, bool suivi)
{
	Lu lu;
	Sorte s = lexer(p, fin, false, &lu);

	if (s == MAUVAISE || s == ENCOURS)
		return nullptr;
	if (suivi && etat == CONTENU && s == OUVRANTE)
		empiler(lu.nom, lu.lnom);
	else if (suivi && etat == CONTENU && s == BALISEFIN)
		fermer(lu.nom, lu.lnom);
	return lu.suite;
}

/* Follow content from p; return fin, or where the reader left content. */
static const char *
contenu(const char *p, const char *fin, bool lf)
{
	Lu lu;

	while (p < fin) {
		if (*p == '&') {
			size_t k = reference(p, fin);
			if (k == 0) {
				const char *e = nomxml(p + 1, fin);
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
		case BALISEFIN:
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

/* Follow what comes after the root: blanks, comments and PIs only. */
static const char *
apres(const char *p, const char *fin, bool lf)
{
	Lu lu;

	while ((p = blancsxml(p, fin)) < fin) {
		Sorte s = *p == '<' ? lexer(p, fin, lf, &lu) : MAUVAISE;
		if (s == ENCOURS && lu.ouvert != CDATA) {
			etat = lu.ouvert;
			retour = APRES;
			lignebloc = ligne;
			return fin;
		}
		if (s != COMPLETE || lu.ouvert == CDATA) {
			illisible(R_APRES, nullptr, 0, ligne);
			return fin;
		}
		p = lu.suite;
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

/* Close the element of this name, the last opened; else report why not. */
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
	for (size_t i = 0; i + 1 < hauteur && !plusbas; i++)
		plusbas = pile[i].lnom == l &&
		          std::memcmp(noms + pile[i].nom, n, l) == 0;
	/* in a field, or in korvum's record, not opened there: no start */
	if (hauteur == plancher || !plusbas || (o->nous && !nous))
		illisible(R_SANSOUVRANTE, n, l, ligne);
	else
		illisible(R_NONFERMEE, noms + o->nom, o->lnom,
		    finsource || o->ligne == ligne ? o->ligne : -o->ligne);
}

/*
 * Report the document not well-formed, on line ligneerr (when negative,
 * on this line, of an element opened on -ligneerr), with the name [n,
 * n + l) at fault, shortened if long.
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
	d = std::copy_n(DOCILLISIBLE, sizeof DOCILLISIBLE - 1, d);
	for (const char *s = POURQUOI[r].texte; *s != '\0'; s++) {
		if (*s != '%') {
			*d++ = *s;
			continue;
		}
		if (l == 0)
			d = std::copy_n(COUPE, sizeof COUPE - 1, d);
		for (size_t i = 0; i < l && i < LONG; i++) {
			auto b = (unsigned char)n[i];
			d += enutf8(d, b < 0x20 ? U'?' : car1252(b));
		}
		if (l > LONG)
			d = std::copy_n(COUPE, sizeof COUPE - 1, d);
		if (r == R_NONFERMEE && avant > 0) {
			d = std::copy_n(DELALIGNE, sizeof DELALIGNE - 1, d);
			d = std::to_chars(d, m + sizeof m, avant).ptr;
			s++; /* past the '>' */
		}
	}
	avertirligne(ligneerr, m, (size_t)(d - m));
}
