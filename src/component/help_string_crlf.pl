#!/usr/bin/perl
# widl cannot store a line break in a help string, so the IDL ends ShowErrorLog's help string in
# two placeholder characters and this puts the CR LF in their place (same length: nothing moves).
use strict;
use warnings;

my $path = shift or die "usage: $0 file.tlb\n";
open(my $in, '<:raw', $path) or die "$path: $!\n";
my $data = do { local $/; <$in> };
close $in;
my $count = ($data =~ s/(Method used to view error and trace log)~~/$1\r\n/g);
die "$path: the ShowErrorLog help string was not found once but $count times\n" unless $count == 1;
open(my $out, '>:raw', $path) or die "$path: $!\n";
print $out $data;
close $out;
