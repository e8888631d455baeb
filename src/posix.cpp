/*
 * The system, on POSIX systems: the standard streams, the two files, the
 * writer's thread, a whole document put in the target's place, messages.
 */

#include "extern.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

/* The signals that end a run, after which no temporary file may stay. */
static const int FINS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

/* The writer's thread: what it runs, the lock and wake-up it shares. */
static struct {
	pthread_mutex_t verrou = PTHREAD_MUTEX_INITIALIZER;
	pthread_cond_t reveil = PTHREAD_COND_INITIALIZER;
	void (*corps)();
} fil;

/* The target. */
static struct {
	bool enplace;     /* a regular file written in place */
	int dossier = -1; /* the folder of the file that the target names */
	char *cible;      /* that file's name there, while a temporary file */
	bool anonyme;     /* stands for it, with no name yet, */
	char provisoire[sizeof "korvum-XXXXXX.tmp"]; /* or with this one */
	bool existait;      /* that file was there, with this status: */
	struct stat ancien; /* its owner and mode */
} but;

/* Warnings not yet written. */
static struct {
	char texte[8192];
	size_t n;
} retenus;

static char *resoudre(const char *);
static int creerprovisoire(char *);
static int nommer(int (*)(const char *));
static int creer(const char *);
static int lier(const char *);
static int forcer(int);
static void oublier();
static void masquer(bool);
static sigset_t *lesfins(sigset_t *);
static void effacer(int);
static void *demarrer(void *);

/*
 * Open a closed standard stream on /dev/null, so that no file lands there;
 * let a size limit or a pipe no one reads fail a write, not kill the run.
 */
void
preparer(int *, char ***)
{
	for (int fd = 0; fd <= 2; fd++)
		if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
		    open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
			std::exit(1);
	(void)signal(SIGXFSZ, SIG_IGN);
	(void)signal(SIGPIPE, SIG_IGN);
}

/* Open the source; a folder is not a source. */
int
ouvrirsource(const char *nom)
{
	struct stat st;
	int fd = open(nom, O_RDONLY);

	if (fd >= 0 && (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
		close(fd);
		fd = -1;
	}
	return fd;
}

/* Whether nom is the open source, a regular file, by device and inode. */
bool
memefichier(const char *nom)
{
	struct stat a, b;

	return fstat(entree, &a) == 0 && S_ISREG(a.st_mode) &&
	       stat(nom, &b) == 0 && a.st_dev == b.st_dev &&
	       a.st_ino == b.st_ino;
}

/*
 * Read up to n first bytes of the target to p, when it is a regular file
 * not empty (anything else is not opened: 0); -1 when it cannot be read.
 */
long
debutbut(const char *nom, char *p, size_t n)
{
	struct stat st;
	size_t lus = 0;
	ssize_t r = 0;
	int fd;

	if (stat(nom, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
		return 0;
	if ((fd = open(nom, O_RDONLY | O_NONBLOCK | O_NOCTTY)) < 0)
		return -1;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
		n = 0;
	while (lus < n && (r = pread(fd, p + lus, n - lus, (off_t)lus)) != 0 &&
	       (r > 0 || errno == EINTR))
		lus += r < 0 ? 0 : (size_t)r;
	close(fd);
	return r < 0 ? -1 : (long)lus;
}

/*
 * Open the target: for a writable regular file of one name, or nothing
 * yet, at the end of its symbolic links, a temporary file in its folder
 * (see fermerbut); anything else, or where the folder refuses one, in
 * place, created or emptied.
 */
int
ouvrirbut(const char *nom)
{
	struct stat st;
	char *c = resoudre(nom);
	int fd = -1;

	but.existait = c != nullptr && stat(c, &but.ancien) == 0;
	if (c != nullptr && !but.existait && errno == ENOENT)
		fd = creerprovisoire(c);
	else if (but.existait && S_ISREG(but.ancien.st_mode) &&
	         but.ancien.st_nlink == 1) {
		if ((fd = open(c, O_WRONLY | O_NONBLOCK | O_NOCTTY)) < 0) {
			std::free(c);
			return -1;
		}
		(void)close(fd);
		fd = creerprovisoire(c);
	} else
		std::free(c);
	if (fd >= 0)
		return fd;
	fd = open(nom, O_WRONLY | O_CREAT | O_TRUNC, 0666);
	if (fd >= 0)
		but.enplace = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
	return fd;
}

/*
 * The name, allocated, that nom leads to through symbolic links, each
 * read from its own folder, dangling or not; nullptr past 32 links or
 * when one cannot be read.
 */
static char *
resoudre(const char *nom)
{
	char lu[4096], *c = strdup(nom), *n, *barre;
	struct stat st;
	ssize_t r;
	size_t d;

	for (int k = 0;
	     c != nullptr && lstat(c, &st) == 0 && S_ISLNK(st.st_mode); k++) {
		r = k < 32 ? readlink(c, lu, sizeof lu) : -1;
		barre = std::strrchr(c, '/');
		d = r <= 0 || lu[0] == '/' || barre == nullptr
		        ? 0
		        : (size_t)(barre - c) + 1;
		if (r <= 0 || (size_t)r >= sizeof lu ||
		    asprintf(&n, "%.*s%.*s", (int)d, c, (int)r, lu) < 0)
			n = nullptr;
		std::free(c);
		c = n;
	}
	return c;
}

/*
 * Make the temporary file for c (allocated, taken) in c's folder, held
 * open so that a folder moved meanwhile still gets it: unnamed
 * (O_TMPFILE) where it can be, else korvum-XXXXXX.tmp created exclusively,
 * for its owner only, removed by a signal that ends the run.  Its
 * descriptor, or -1.
 */
static int
creerprovisoire(char *c)
{
	const char *barre = std::strrchr(c, '/');
	size_t d = barre == nullptr ? 0 : (size_t)(barre - c) + 1;
	char *nomdossier = d == 0 ? strdup(".") : strndup(c, d);
	int fd = -1;

	if (nomdossier != nullptr && c[d] != '\0')
		but.dossier = open(nomdossier, O_RDONLY | O_DIRECTORY);
#ifdef O_PATH
	/* A folder one may write in but not read still takes the file; it
	 * is then not forced (fsync gives EBADF). */
	if (nomdossier != nullptr && but.dossier < 0 && errno == EACCES)
		but.dossier = open(nomdossier, O_PATH | O_DIRECTORY);
#endif
	std::free(nomdossier);
	std::memmove(c, c + d, std::strlen(c + d) + 1);
	masquer(true);
#ifdef O_TMPFILE
	if (but.dossier >= 0)
		but.anonyme = (fd = openat(but.dossier, ".",
		                   O_TMPFILE | O_WRONLY, 0600)) >= 0;
#endif
	if (but.dossier >= 0 && fd < 0)
		fd = nommer(creer);
	if (fd >= 0) {
		but.cible = c;
		for (int sig : FINS) {
			struct sigaction sa = {}, avant;
			sa.sa_handler = effacer;
			sa.sa_flags = (int)SA_RESETHAND;
			sigemptyset(&sa.sa_mask);
			if (sigaction(sig, nullptr, &avant) == 0 &&
			    avant.sa_handler != SIG_IGN)
				(void)sigaction(sig, &sa, nullptr);
		}
	} else
		std::free(c);
	masquer(false);
	return fd;
}

/*
 * Name the temporary file korvum-XXXXXX.tmp by faire, drawing again when
 * it fails with EEXIST, 100 times at most; what faire returns, the name in
 * but.provisoire.  The signals that end a run are held back.
 */
static int
nommer(int (*faire)(const char *))
{
	static const char CHIFFRES[] = "0123456789abcdefghijklmnopqrstuvwxyz";
	struct timespec ts = {};
	unsigned long v;
	int r = -1;

	for (unsigned long essai = 0; essai < 100; essai++) {
		(void)clock_gettime(CLOCK_REALTIME, &ts);
		v = (unsigned long)getpid() * 2654435761ul ^
		    ((unsigned long)ts.tv_nsec + essai * 7919ul);
		std::memcpy(
		    but.provisoire, "korvum-XXXXXX.tmp", sizeof but.provisoire);
		for (size_t k = 0; k < 6; k++, v /= 36)
			but.provisoire[7 + k] = CHIFFRES[v % 36];
		if ((r = faire(but.provisoire)) >= 0 || errno != EEXIST)
			break;
	}
	if (r < 0)
		but.provisoire[0] = '\0';
	return r;
}

/* Create the named temporary file t in the target's folder. */
static int
creer(const char *t)
{
	return openat(but.dossier, t, O_WRONLY | O_CREAT | O_EXCL, 0600);
}

/*
 * Name the unnamed temporary file t: through /proc/self/fd, or without
 * /proc by its descriptor (for a privileged user only).
 */
static int
lier(const char *t)
{
#ifdef O_TMPFILE
	char lien[32];

	(void)std::snprintf(lien, sizeof lien, "/proc/self/fd/%d", sortie);
	if (linkat(AT_FDCWD, lien, but.dossier, t, AT_SYMLINK_FOLLOW) == 0)
		return 0;
	if (errno != ENOENT)
		return -1;
	return linkat(sortie, "", but.dossier, t, AT_EMPTY_PATH);
#else
	(void)t;
	return -1;
#endif
}

/*
 * Force a file's data and size to the disk, so that a crash after the
 * renaming finds them; fdatasync where there is one.  0, or -1.
 */
static int
forcer(int fd)
{
	int r;

	do
#if defined(_POSIX_SYNCHRONIZED_IO) && _POSIX_SYNCHRONIZED_IO > 0
		r = fdatasync(fd);
#else
		r = fsync(fd);
#endif
	while (r != 0 && errno == EINTR);
	return r;
}

/* Forget the temporary file, renamed or removed (signals held back). */
static void
oublier()
{
	std::free(but.cible);
	but.cible = nullptr;
	but.provisoire[0] = '\0';
}

/*
 * Hold back the signals that end a run (tenir), or let them through, so
 * that the handler sees the temporary file whole or not at all.
 */
static void
masquer(bool tenir)
{
	static sigset_t avant;
	sigset_t fins;

	if (tenir)
		(void)pthread_sigmask(SIG_BLOCK, lesfins(&fins), &avant);
	else
		(void)pthread_sigmask(SIG_SETMASK, &avant, nullptr);
}

/* Hold back the signals that end a run for good, in the writer's thread. */
void
tenirfins()
{
	sigset_t fins;

	(void)pthread_sigmask(SIG_BLOCK, lesfins(&fins), nullptr);
}

/* Start a thread, never waited for, that runs f; false if none. */
bool
lancer(void (*f)())
{
	pthread_t t;

	fil.corps = f;
	if (pthread_create(&t, nullptr, demarrer, nullptr) != 0)
		return false;
	(void)pthread_detach(t);
	return true;
}

/* The thread lancer starts. */
static void *
demarrer(void *)
{
	fil.corps();
	return nullptr;
}

/* Take the lock the run and the writer share. */
void
verrouiller()
{
	pthread_mutex_lock(&fil.verrou);
}

/* Let it go. */
void
deverrouiller()
{
	pthread_mutex_unlock(&fil.verrou);
}

/* Wait, the lock held, for the other's news. */
void
patienter()
{
	pthread_cond_wait(&fil.reveil, &fil.verrou);
}

/* Tell the other there is news. */
void
eveiller()
{
	pthread_cond_broadcast(&fil.reveil);
}

/* The signals that end a run, in *s. */
static sigset_t *
lesfins(sigset_t *s)
{
	sigemptyset(s);
	for (int sig : FINS)
		sigaddset(s, sig);
	return s;
}

/* A signal ends the run: remove the temporary file, then end by it. */
static void
effacer(int sig)
{
	if (but.provisoire[0] != '\0')
		(void)unlinkat(but.dossier, but.provisoire, 0);
	(void)raise(sig);
}

/* Read up to n bytes of the source, how many in *lus; false if it fails. */
bool
lire(char *p, size_t n, size_t *lus)
{
	ssize_t r;

	while ((r = read(entree, p, n)) < 0 && errno == EINTR)
		;
	*lus = r < 0 ? 0 : (size_t)r;
	return r >= 0;
}

/* Write all n bytes to the target; false when it will not take them. */
bool
ecrire(const char *p, size_t n)
{
	while (n > 0) {
		ssize_t r = write(sortie, p, n);
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			return false;
		p += r;
		n -= (size_t)r;
	}
	return true;
}

/* Close a file; false when the close reports an error. */
bool
fermer(int fd)
{
	return close(fd) == 0;
}

/*
 * Close the target.  A temporary file takes the replaced file's owner and
 * mode (or a new file's), is forced, named, closed and renamed over it,
 * and the folder is forced (unless it cannot be: EINVAL), so that a crash
 * leaves either document whole.  False when any of it fails: the file is
 * then left for renoncer, unless only the folder's sync failed.
 */
bool
fermerbut()
{
	mode_t masque;
	bool ok;

	if (but.cible == nullptr)
		return fermer(sortie);
	if (but.existait) {
		(void)!fchown(sortie, but.ancien.st_uid, but.ancien.st_gid);
		(void)!fchmod(sortie, but.ancien.st_mode & 07777);
	} else {
		masque = umask(0);
		(void)umask(masque);
		(void)!fchmod(sortie, 0666 & ~masque);
	}
	ok = forcer(sortie) == 0;
	masquer(true);
	ok = ok && (!but.anonyme || nommer(lier) == 0);
	masquer(false);
	if (!fermer(sortie) || !ok)
		return false;
	masquer(true);
	if ((ok = renameat(but.dossier, but.provisoire, but.dossier,
	              but.cible) == 0))
		oublier();
	masquer(false);
	return ok &&
	       (fsync(but.dossier) == 0 || errno == EINVAL || errno == EBADF);
}

/*
 * Give up the document: remove the temporary file, so that the target
 * keeps what it held, or empty a regular target written in place.
 */
void
renoncer()
{
	if (but.cible != nullptr) {
		masquer(true);
		if (but.provisoire[0] != '\0')
			(void)unlinkat(but.dossier, but.provisoire, 0);
		oublier();
		masquer(false);
	} else if (sortie >= 0 && but.enplace)
		(void)!ftruncate(sortie, 0);
}

/* Write one message in one write, after the warnings held. */
void
message(const char *m, size_t n)
{
	lacher();
	(void)!write(canal, m, n);
}

/*
 * A warning: at once to a terminal; otherwise held, so that a warning a
 * line costs no system call a line.
 */
void
retenir(const char *m, size_t n)
{
	static int terminal = -1;

	if (terminal < 0)
		terminal = isatty(canal);
	if (terminal == 1 || n > sizeof retenus.texte) {
		message(m, n);
		return;
	}
	if (n > sizeof retenus.texte - retenus.n)
		lacher();
	std::memcpy(retenus.texte + retenus.n, m, n);
	retenus.n += n;
}

/* Write the warnings held. */
void
lacher()
{
	if (retenus.n > 0)
		(void)!write(canal, retenus.texte, retenus.n);
	retenus.n = 0;
}
