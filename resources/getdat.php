<?php
// Guide grabber for the script-based fetch. Run in the application support folder:
//
//   /usr/bin/php <program folder>/getdat.php
//
// Settings: "getdat.ini" in the working folder, section [source]:
//   url      = the XMLTV document, http://, https:// or file:// (gzip-compressed or not)
//   channels = XMLTV channel ids, comma-separated; absent or empty: every channel
//
// Progress on standard output: "Fetching NN" (the channel count, two digits) and then one
// "." per channel stored; with more than 99 channels the count reads 99 and the dots are
// spread so that 99 of them mean done.
//
// Results: one file per channel in database/ (the converter dat2tgd.pl reads them) and the
// document as fetched in cache/guide.xml. A run that fails writes one line to standard
// error and exits 1; until it has every channel file it leaves both folders as they were.
//
// Channel file format (UTF-8, one record per line, TAB-separated, in each field "\" TAB
// LF CR written as \\ \t \n \r):
//   #getdat 1
//   C  id  display-name
//   P  seq  start  stop  title  sub-title  category  desc  rating
// seq is the programme's place in the document; the texts are those the application's
// own XMLTV import takes (the last matching element, its text joined without separators).

const FORMAT_LINE = "#getdat 1\n";
const MAX_COUNT = 99;

final class GrabFailure extends Exception
{
}

function fail(string $why): never
{
    throw new GrabFailure($why);
}

// Warnings become failures, so that no PHP message ever lands in the progress output.
set_error_handler(function (int $level, string $message): bool {
    if (!(error_reporting() & $level)) {
        return false;
    }
    throw new GrabFailure($message);
});

function readSettings(): array
{
    if (!is_file('getdat.ini')) {
        fail('no settings file getdat.ini in ' . getcwd());
    }
    $ini = parse_ini_file('getdat.ini', true, INI_SCANNER_RAW);
    $url = trim((string) ($ini['source']['url'] ?? ''));
    if ($url === '') {
        fail('getdat.ini names no url in section [source]');
    }
    $channels = [];
    foreach (explode(',', (string) ($ini['source']['channels'] ?? '')) as $id) {
        $id = trim($id);
        if ($id !== '' && !in_array($id, $channels, true)) {
            $channels[] = $id;
        }
    }
    return [$url, $channels];
}

function fetchDocument(string $url): string
{
    $parts = parse_url($url);
    $scheme = strtolower($parts['scheme'] ?? '');
    if ($scheme === 'file') {
        $host = $parts['host'] ?? '';
        if (($host !== '' && $host !== 'localhost') || !isset($parts['path'])) {
            fail("$url: a file URL needs an absolute path (file:///...)");
        }
        $path = rawurldecode($parts['path']);
        if (!is_file($path) || !is_readable($path)) {
            fail("$path: no such readable file");
        }
        $data = file_get_contents($path);
    } elseif ($scheme === 'http' || $scheme === 'https') {
        $context = stream_context_create(['http' => [
            'timeout' => 60,
            'follow_location' => 1,
            'max_redirects' => 5,
            'ignore_errors' => true,
            'user_agent' => 'getdat',
        ]]);
        $data = file_get_contents($url, false, $context);
        // After redirects the last status line is the one that counts.
        $status = '';
        foreach ($http_response_header ?? [] as $h) {
            if (str_starts_with($h, 'HTTP/')) {
                $status = $h;
            }
        }
        if (!preg_match('{^HTTP/\S+\s+200\b}', $status)) {
            fail("$url: the server answered " . ($status === '' ? 'nothing' : $status));
        }
    } else {
        fail("$url: only http://, https:// and file:// URLs are fetched");
    }
    if (str_starts_with($data, "\x1f\x8b")) {
        $data = gzdecode($data);
    }
    if ($data === '') {
        fail("$url: the document is empty");
    }
    return $data;
}

function parseGuide(string $data, string $url): DOMElement
{
    libxml_use_internal_errors(true);
    $doc = new DOMDocument();
    // Entities are expanded as the application's import does, but a guide can make the
    // parser read no other file and no host.
    libxml_set_external_entity_loader(fn () => null);
    if (!$doc->loadXML($data, LIBXML_NOENT | LIBXML_NONET | LIBXML_NOCDATA | LIBXML_COMPACT)) {
        $e = libxml_get_errors()[0] ?? null;
        fail("$url: not well-formed XML" . ($e ? " (line {$e->line}: " . trim($e->message) . ')' : ''));
    }
    $root = $doc->documentElement;
    if ($root === null || $root->nodeName !== 'tv') {
        fail("$url: not an XMLTV document (root element <" . ($root ? $root->nodeName : '') . '>)');
    }
    return $root;
}

function isVisible(DOMNode $n): bool
{
    return $n->nodeType !== XML_TEXT_NODE || strspn($n->nodeValue, " \t\r\n") !== strlen($n->nodeValue);
}

// The last element of that name below $node in document order, not looking inside a match.
function descendant(DOMNode $node, string $name): ?DOMElement
{
    $found = null;
    foreach ($node->childNodes as $c) {
        if ($c->nodeType !== XML_ELEMENT_NODE) {
            continue;
        }
        if ($c->nodeName === $name) {
            $found = $c;
        } elseif (($inner = descendant($c, $name)) !== null) {
            $found = $inner;
        }
    }
    return $found;
}

// All text below the element, whitespace-only pieces left out, joined without separators.
function text(?DOMNode $node): string
{
    if ($node === null) {
        return '';
    }
    $out = '';
    foreach ($node->childNodes as $c) {
        if ($c->nodeType === XML_TEXT_NODE || $c->nodeType === XML_CDATA_SECTION_NODE) {
            if (isVisible($c)) {
                $out .= $c->nodeValue;
            }
        } elseif ($c->nodeType === XML_ELEMENT_NODE) {
            $out .= text($c);
        }
    }
    return $out;
}

function field(string $s): string
{
    return strtr($s, ["\\" => "\\\\", "\t" => "\\t", "\n" => "\\n", "\r" => "\\r"]);
}

function record(array $fields): string
{
    return implode("\t", array_map('field', $fields)) . "\n";
}

// Channel id => [display name, channel file content], in document order: the declared
// channels first, then those only programmes name.
function readChannels(DOMElement $tv): array
{
    $channels = [];
    $seq = 0;
    foreach ($tv->childNodes as $c) {
        if ($c->nodeType !== XML_ELEMENT_NODE) {
            continue;
        }
        if ($c->nodeName === 'channel') {
            $id = $c->getAttribute('id');
            if ($id !== '' && !isset($channels[$id])) {
                $name = trim(text(firstChild($c, 'display-name')));
                $channels[$id] = [$name === '' ? $id : $name, ''];
            }
            continue;
        }
        // Every other child is read as a programme, as the application's import does.
        $id = $c->getAttribute('channel');
        ++$seq;
        if ($id === '') {
            continue;
        }
        $channels[$id] ??= [$id, ''];
        $channels[$id][1] .= record(['P', (string) $seq, $c->getAttribute('start'),
            $c->getAttribute('stop'), text(descendant($c, 'title')),
            text(descendant($c, 'sub-title')), text(descendant($c, 'category')),
            text(descendant($c, 'desc')), text(descendant($c, 'rating'))]);
    }
    return $channels;
}

// The first display-name child: the channel's main name.
function firstChild(DOMElement $channel, string $name): ?DOMElement
{
    foreach ($channel->childNodes as $c) {
        if ($c->nodeType === XML_ELEMENT_NODE && $c->nodeName === $name) {
            return $c;
        }
    }
    return null;
}

function writeAtomically(string $path, string $content): void
{
    $tmp = tempnam(dirname($path), '.getdat-');
    if (file_put_contents($tmp, $content) !== strlen($content)) {
        @unlink($tmp);
        fail("$path: cannot be written");
    }
    chmod($tmp, 0666 & ~umask());
    rename($tmp, $path);
}

function ensureFolder(string $path): void
{
    if (!is_dir($path)) {
        mkdir($path, 0777, true);
    }
}

function removeTree(string $path): void
{
    if (!is_dir($path)) {
        return;
    }
    foreach (scandir($path) as $f) {
        if ($f !== '.' && $f !== '..') {
            is_dir("$path/$f") ? removeTree("$path/$f") : unlink("$path/$f");
        }
    }
    rmdir($path);
}

function safeName(int $index, string $id): string
{
    return sprintf('%03d-%s.dat', $index, substr(preg_replace('/[^A-Za-z0-9._-]/', '_', $id), 0, 80));
}

function main(): void
{
    if (!extension_loaded('dom')) {
        fail("PHP's dom extension is missing (Debian package php-xml)");
    }
    [$url, $wanted] = readSettings();
    $data = fetchDocument($url);
    $channels = readChannels(parseGuide($data, $url));

    if ($wanted) {
        $missing = array_values(array_filter($wanted, fn ($id) => !isset($channels[$id])));
        $chosen = array_values(array_filter($wanted, fn ($id) => isset($channels[$id])));
        if (!$chosen) {
            fail('none of the channels of getdat.ini is in the document');
        }
    } else {
        $missing = [];
        $chosen = array_keys($channels);
        if (!$chosen) {
            fail("$url: the document lists no channels");
        }
    }

    // The new channel files are made in a folder of their own and replace the old set only
    // when all are there, so the converter never sees half of one fetch.
    $fresh = 'database.new-' . getmypid();
    removeTree($fresh);
    mkdir($fresh);
    $n = count($chosen);
    $shown = min($n, MAX_COUNT);
    printf("Fetching %02d\n", $shown);
    flush();
    $dots = 0;
    foreach ($chosen as $i => $id) {
        [$name, $programmes] = $channels[$id];
        file_put_contents("$fresh/" . safeName($i + 1, $id),
            FORMAT_LINE . record(['C', (string) $id, $name]) . $programmes);
        for ($due = intdiv(($i + 1) * $shown, $n); $dots < $due; ++$dots) {
            echo '.';
            flush();
        }
    }
    echo "\n";
    $old = 'database.old-' . getmypid();
    if (is_dir('database')) {
        rename('database', $old);
    }
    rename($fresh, 'database');
    removeTree($old);
    ensureFolder('cache');
    writeAtomically('cache/guide.xml', $data);
    if ($missing) {
        fwrite(STDERR, 'getdat: not in the document: ' . implode(', ', $missing) . "\n");
    }
}

try {
    main();
} catch (Throwable $e) {
    // Put back the last fetch's channel files if the swap was cut short.
    $pid = getmypid();
    if (!file_exists('database') && is_dir("database.old-$pid")) {
        @rename("database.old-$pid", 'database');
    }
    @removeTree("database.new-$pid");
    fwrite(STDERR, 'getdat: ' . preg_replace('/\s+/', ' ', $e->getMessage()) . "\n");
    exit(1);
}
exit(0);
