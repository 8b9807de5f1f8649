#!/usr/bin/perl
# Guide converter for the script-based fetch. Run in the application support folder:
#
#   /usr/bin/perl <program folder>/dat2tgd.pl -oldtgd -days [N]
#
# Reads the channel files getdat.php left in database/ and writes one guide day file
# output/YYYYMMDD.tgd per day: eight TAB-separated fields per line (channel, start
# "YYYY-MM-DD hh:mm", duration in minutes, title, sub-title and category, description,
# rating, record field "N"), LF line ends, ISO 8859-1.
#
# -days N keeps the N days from today on; -days without a number keeps every day.
# -oldtgd asks for that eight-field layout, the only one written.
#
# Times follow the application's own XMLTV import: a start written with a non-zero offset
# keeps its wall-clock time; one in UTC (+0000 or no offset) is shown in this machine's
# local time at that instant. Files of days without programmes are left alone; each day
# file is replaced whole, through a temporary file in the same folder, and only once every
# day's file was written.
#
# Core Perl modules only.

use strict;
use warnings;
use File::Temp ();
use Unicode::Normalize ();
use Getopt::Long qw(GetOptionsFromArray);

my $FORMAT_LINE = "#getdat 1";

sub fail {
    my ($why) = @_;
    $why =~ s/\s+/ /g;
    $why =~ s/ $//;
    print STDERR "dat2tgd: $why\n";
    exit 1;
}

sub options {
    my @args = @_;
    my ($days, $oldtgd);
    Getopt::Long::Configure('no_ignore_case', 'no_auto_abbrev');
    local $SIG{__WARN__} = sub { fail($_[0]) };
    GetOptionsFromArray(\@args, 'oldtgd' => \$oldtgd, 'days:s' => \$days)
        or fail('usage: dat2tgd.pl -oldtgd -days [N]');
    fail("unexpected argument '$args[0]'") if @args;
    return undef if !defined $days;
    $days =~ s/^\s+|\s+$//g;
    return undef if $days eq '';
    fail("-days wants a whole number of at least 1, not '$days'") unless $days =~ /^\d+$/ && $days > 0;
    return $days + 0;
}

my %UNESCAPE = ('\\' => '\\', 't' => "\t", 'n' => "\n", 'r' => "\r");

# One channel file: its display name and its programmes.
sub read_channel {
    my ($path) = @_;
    open(my $fh, '<:encoding(UTF-8)', $path) or fail("$path: $!");
    my $first = <$fh>;
    fail("$path: not a channel file of getdat.php")
        unless defined $first && $first =~ /^\Q$FORMAT_LINE\E\r?\n?$/;
    my ($name, @programmes);
    while (my $line = <$fh>) {
        chomp $line;
        my @f = map { s{\\(.)}{$UNESCAPE{$1} // $1}ger } split(/\t/, $line, -1);
        if (@f == 3 && $f[0] eq 'C') {
            $name = $f[2] eq '' ? $f[1] : $f[2];
        } elsif (@f == 9 && $f[0] eq 'P' && $f[1] =~ /^\d+$/a) {
            push @programmes, {
                seq => $f[1], start => $f[2], stop => $f[3], title => $f[4], sub => $f[5],
                category => $f[6], desc => $f[7], rating => $f[8] };
        } else {
            fail("$path line $.: not a record of a channel file");
        }
    }
    close($fh);
    fail("$path: names no channel") unless defined $name;
    $_->{channel} = $name for @programmes;
    return @programmes;
}

# Days since 1970-01-01 of a proleptic Gregorian date.
sub days_from_civil {
    my ($y, $m, $d) = @_;
    $y -= $m <= 2;
    my $era = int(($y >= 0 ? $y : $y - 399) / 400);
    my $yoe = $y - $era * 400;
    my $doy = int((153 * ($m + ($m > 2 ? -3 : 9)) + 2) / 5) + $d - 1;
    my $doe = $yoe * 365 + int($yoe / 4) - int($yoe / 100) + $doy;
    return $era * 146097 + $doe - 719468;
}

sub days_in_month {
    my ($y, $m) = @_;
    return 29 if $m == 2 && (($y % 4 == 0 && $y % 100 != 0) || $y % 400 == 0);
    return (31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31)[$m - 1];
}

# "YYYYMMDDhhmm[ss][ +zzzz]" => (instant in seconds, wall-clock fields [y, m, d, h, mi]),
# or nothing when the text is no such time.
sub parse_time {
    my ($s) = @_;
    return () unless defined $s && length($s) > 11;
    my ($y, $mo, $d, $h, $mi, $sec, $zone) = $s =~ /^(\d{4})(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)?( [+-]\d{4})?$/a
        or return ();
    $sec //= 0;
    return () if $y == 0 || $mo < 1 || $mo > 12 || $d < 1 || $d > days_in_month($y, $mo)
        || $h > 23 || $mi > 59 || $sec > 59;
    my $offset = 0;
    if (defined $zone) {
        my ($sign, $oh, $om) = $zone =~ /^ ([+-])(\d\d)(\d\d)$/;
        return () if $oh > 14 || $om > 59;
        $offset = ($oh * 3600 + $om * 60) * ($sign eq '-' ? -1 : 1);
    }
    my $instant = days_from_civil($y, $mo, $d) * 86400 + $h * 3600 + $mi * 60 + $sec - $offset;
    return ($instant, [$y, $mo, $d, $h, $mi]) if $offset != 0;
    my @l = localtime($instant);
    return ($instant, [$l[5] + 1900, $l[4] + 1, $l[3], $l[2], $l[1]]);
}

# What ISO 8859-1 cannot hold becomes "?", one per UTF-16 unit, as the application writes it.
# Characters ISO 8859-1 lacks, and what a reader of the day file should see instead; the
# same as the application's own day-file writer.
my @STAND_INS = (
    [0x0110, 0x0110, 'D'], [0x0111, 0x0111, 'd'], [0x0131, 0x0131, 'i'],
    [0x0141, 0x0141, 'L'], [0x0142, 0x0142, 'l'], [0x0152, 0x0152, 'OE'],
    [0x0153, 0x0153, 'oe'], [0x0300, 0x036F, ''], [0x2002, 0x200A, ' '],
    [0x200B, 0x200D, ''], [0x2010, 0x2015, '-'], [0x2018, 0x201B, "'"],
    [0x201C, 0x201F, '"'], [0x2022, 0x2022, '*'], [0x2026, 0x2026, '...'],
    [0x2032, 0x2032, "'"], [0x2033, 0x2033, '"'], [0x2039, 0x2039, '<'],
    [0x203A, 0x203A, '>'], [0x20AC, 0x20AC, 'EUR'], [0x2122, 0x2122, 'TM'],
    [0x2212, 0x2212, '-'], [0xFEFF, 0xFEFF, ''],
);

sub stand_in {
    my ($c) = @_;
    my $o = ord($c);
    for my $s (@STAND_INS) {
        return $s->[2] if $o >= $s->[0] && $o <= $s->[1];
    }
    if ($o <= 0xFFFF) {
        my $base = substr(Unicode::Normalize::NFD($c), 0, 1);
        return $base if $base ne $c && ord($base) <= 0xFF;
    }
    return '?';
}

sub latin1 {
    my ($s) = @_;
    $s =~ s/([^\x00-\xFF])/stand_in($1)/ge;
    $s =~ tr/\t\r\n/   /;
    return $s;
}

sub tgd_line {
    my ($p) = @_;
    my ($y, $mo, $d, $h, $mi) = @{$p->{wall}};
    return join("\t", map { latin1($_) } $p->{channel},
        sprintf('%04d-%02d-%02d %02d:%02d', $y, $mo, $d, $h, $mi), $p->{duration},
        $p->{title}, "$p->{sub} [$p->{category}]", $p->{desc}, $p->{rating}, 'N') . "\n";
}

# Writes a day's file beside its place; put_in_place() moves it there. Every day is written
# before any is moved, so a full disk leaves the old days as they were, not a mix of two
# guides.
sub stage_day {
    my ($folder, $day, $content) = @_;
    my $tmp = eval { File::Temp->new(DIR => $folder, TEMPLATE => ".dat2tgd-XXXXXX", UNLINK => 1) }
        or fail("$folder: cannot write there: $@");
    binmode($tmp, ':raw');
    print $tmp $content or fail("$folder/$day.tgd: $!");
    $tmp->flush or fail("$folder/$day.tgd: $!");
    $tmp->sync or fail("$folder/$day.tgd: $!");
    close($tmp) or fail("$folder/$day.tgd: $!");
    my $umask = umask;
    chmod(0666 & ~$umask, $tmp->filename);
    return [$tmp, "$folder/$day.tgd"];
}

sub put_in_place {
    my ($staged) = @_;
    my ($tmp, $path) = @$staged;
    rename($tmp->filename, $path) or fail("$path: $!");
    $tmp->unlink_on_destroy(0);
}

sub main {
    my $days = options(@_);
    -d 'database' or fail('no database folder in the working folder; run getdat.php first');
    opendir(my $dh, 'database') or fail("database: $!");
    my @files = sort grep { /\.dat$/ && !/^\./ && -f "database/$_" } readdir($dh);
    closedir($dh);
    fail('the database folder holds no channel files; run getdat.php first') unless @files;

    my @programmes;
    for my $f (@files) {
        for my $p (read_channel("database/$f")) {
            my ($start, $wall) = parse_time($p->{start});
            next unless defined $start;
            my ($stop) = parse_time($p->{stop});
            # Between the true instants, so a programme spanning a clock change keeps its
            # real length.
            $p->{duration} = defined $stop ? int(($stop - $start) / 60) : 0;
            $p->{instant} = $start;
            $p->{wall} = $wall;
            $p->{day} = sprintf('%04d%02d%02d', @$wall[0 .. 2]);
            push @programmes, $p;
        }
    }

    my ($first, $last);
    if (defined $days) {
        my @t = localtime(time);
        my $today = days_from_civil($t[5] + 1900, $t[4] + 1, $t[3]);
        ($first, $last) = ($today, $today + $days - 1);
    }
    my %content;
    for my $p (sort { $a->{instant} <=> $b->{instant} || $a->{seq} <=> $b->{seq} } @programmes) {
        if (defined $first) {
            my $n = days_from_civil(@{$p->{wall}}[0 .. 2]);
            next if $n < $first || $n > $last;
        }
        $content{$p->{day}} .= tgd_line($p);
    }

    mkdir('output') unless -d 'output';
    -d 'output' or fail("output: $!");
    my @staged = map { stage_day('output', $_, $content{$_}) } sort keys %content;
    put_in_place($_) for @staged;
    return 0;
}

exit(main(@ARGV));
