#!/usr/bin/ruby
# Turns one day's XMLTV (standard input) into an HTML guide grid (standard output):
# one row per channel, time running left to right, every programme at its own local start
# and end. The page uses xmltv2html.css and
# popup.js beside it; settings come from xmltv2htmlrc in the working folder.
#
# Every hour h of the day carries an anchor named (h + 2) mod 24, so anchor n marks the
# hour (n + 22) mod 24; the grid browser's hour buttons jump to those.

require 'rexml/document'
require 'cgi'

SETTINGS = {
  'slot_minutes' => 30,  # with slot_width, the scale: slot_width pixels per slot_minutes
  'slot_width' => 80,
  'channel_width' => 110,
  'clock' => 12,         # 12 or 24
  'title' => 'Guide'
}.freeze

def read_settings(path)
  settings = SETTINGS.dup
  return settings unless File.readable?(path)

  File.foreach(path) do |line|
    line = line.strip
    next if line.empty? || line.start_with?('#')

    key, value = line.split('=', 2).map(&:strip)
    next unless value && settings.key?(key)

    settings[key] = SETTINGS[key].is_a?(Integer) ? value.to_i : value
  end
  settings['slot_minutes'] = 30 unless [5, 10, 15, 20, 30, 60].include?(settings['slot_minutes'])
  settings['slot_width'] = 80 unless settings['slot_width'].positive?
  settings['channel_width'] = 110 unless settings['channel_width'].positive?
  settings
end

# "20261205183000 +1000" → minutes since 1970-01-01 of the wall clock the programme is shown
# at, as the application's own import reads it: a non-zero offset keeps the time as written;
# UTC ("+0000", or no offset) is shown in this machine's local time at that instant. Nothing
# for any other form.
def wall_minutes(stamp)
  m = /\A(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})?(?: ([+-])(\d{2})(\d{2}))?\z/.match(stamp.to_s.strip)
  return nil unless m

  written = Time.utc(m[1].to_i, m[2].to_i, m[3].to_i, m[4].to_i, m[5].to_i)
  return nil unless written.day == m[3].to_i && m[4].to_i < 24 && m[5].to_i < 60

  offset = m[7] ? (m[8].to_i * 60 + m[9].to_i) * (m[7] == '-' ? -1 : 1) : 0
  return written.to_i / 60 unless offset.zero?

  local = written.getlocal
  (written.to_i + local.utc_offset) / 60
rescue ArgumentError
  nil
end

def text_of(element, name)
  node = element.elements[name]
  node ? node.texts.map(&:value).join.strip : ''
end

def h(text)
  CGI.escapeHTML(text.to_s)
end

def clock(minutes, style)
  hour = (minutes / 60) % 24
  minute = minutes % 60
  return format('%02d:%02d', hour, minute) if style == 24

  suffix = hour < 12 ? 'am' : 'pm'
  shown = hour % 12
  shown = 12 if shown.zero?
  minute.zero? ? "#{shown}#{suffix}" : format('%d:%02d%s', shown, minute, suffix)
end

def hour_anchor(hour)
  (hour + 2) % 24
end

settings = read_settings('xmltv2htmlrc')
input = $stdin.read
doc = begin
  REXML::Document.new(input)
rescue REXML::ParseException => e
  warn "xmltv2html: #{e.message.lines.first}"
  exit 1
end
tv = doc.root
unless tv && tv.name == 'tv'
  warn 'xmltv2html: no tv element'
  exit 1
end

channels = []
names = {}
tv.each_element('channel') do |c|
  id = c.attributes['id'].to_s
  next if names.key?(id)

  channels << id
  shown = text_of(c, 'display-name')
  names[id] = shown.empty? ? id : shown
end

programmes = Hash.new { |hash, key| hash[key] = [] }
tv.each_element('programme') do |p|
  start = wall_minutes(p.attributes['start'])
  next unless start

  stop = wall_minutes(p.attributes['stop'])
  id = p.attributes['channel'].to_s
  unless names.key?(id)
    channels << id
    names[id] = id
  end
  rating = p.elements['rating/value'] ? text_of(p, 'rating/value') : text_of(p, 'rating')
  programmes[id] << {
    start: start, stop: stop, title: text_of(p, 'title'), sub_title: text_of(p, 'sub-title'),
    desc: text_of(p, 'desc'), category: text_of(p, 'category'), rating: rating
  }
end

# A programme without a stop runs until the next one on its channel starts.
programmes.each_value do |list|
  list.sort_by! { |p| p[:start] }
  list.each_with_index do |p, i|
    next if p[:stop] && p[:stop] > p[:start]

    following = list[(i + 1)..].find { |q| q[:start] > p[:start] }
    p[:stop] = following ? following[:start] : p[:start] + settings['slot_minutes']
  end
end
all = programmes.values.flatten
# The page's day: the local day most programmes start on (a day file may begin with the
# end of the evening before).
days = all.map { |p| p[:start] / 1440 }.tally
day_number = days.empty? ? (Time.now.to_i + Time.now.utc_offset) / 60 / 1440 : days.max_by { |d, n| [n, -d] }.first
day_start = day_number * 1440
day = Time.at(day_start * 60).utc
# The whole day, and past midnight as far as the day's last programme runs.
latest = all.select { |p| p[:start] < day_start + 1440 }.map { |p| p[:stop] }.max || 0
end_minute = [[latest, day_start + 1440].max, day_start + 1440 + 720].min
per_minute = settings['slot_width'].to_f / settings['slot_minutes']
px = ->(minutes) { (minutes * per_minute).round }
lane_width = px.call(end_minute - day_start)
chan = settings['channel_width']

out = []
out << '<!DOCTYPE html>'
out << '<html lang="en"><head><meta charset="utf-8">'
out << "<title>#{h(settings['title'])} #{day.strftime('%A %-d %B %Y')}</title>"
out << '<link rel="stylesheet" type="text/css" href="xmltv2html.css">'
out << '<script type="text/javascript" src="popup.js"></script>'
# Widths in pixels: every programme sits at its own start and end, to the minute. An hour
# anchor scrolled to stops beside the channel column, which stays in view, and a programme's
# text stays in view beside it while any of the programme does.
out << "<style>.grid { width: #{chan + lane_width}px; } .chan { width: #{chan}px; } " \
       ".lane { width: #{lane_width}px; } .hour a { scroll-margin-left: #{chan}px; } " \
       ".prog .inner { left: #{chan + 2}px; }</style>"
out << '</head><body>'
out << "<h1>#{h(day.strftime('%A %-d %B %Y'))}</h1>"
out << '<div class="grid">'

head = ['<div class="row head"><div class="chan corner">Channel</div><div class="lane">']
(0...((end_minute - day_start + 59) / 60)).each do |hour|
  anchor = hour < 24 ? "<a id=\"#{hour_anchor(hour)}\" name=\"#{hour_anchor(hour)}\"></a>" : ''
  head << "<div class=\"hour\" style=\"left: #{px.call(hour * 60)}px; width: #{px.call(60)}px\">" \
          "#{anchor}#{h(clock(hour * 60, settings['clock']))}</div>"
end
head << '</div></div>'
out << head.join

channels.each do |id|
  row = ["<div class=\"row\"><div class=\"chan\">#{h(names[id])}</div><div class=\"lane\">"]
  programmes[id].each do |p|
    next if p[:stop] <= day_start || p[:start] >= end_minute

    from = [p[:start], day_start].max - day_start
    to = [p[:stop], end_minute].min - day_start
    details = [p[:desc], p[:category].empty? ? nil : "[#{p[:category]}]",
               p[:rating].empty? ? nil : "Rated #{p[:rating]}"].compact.reject(&:empty?)
    times = "#{clock(p[:start] - day_start, settings['clock'])} - #{clock(p[:stop] - day_start, settings['clock'])}"
    cell = +"<div class=\"prog\" style=\"left: #{px.call(from)}px; width: #{[px.call(to) - px.call(from), 2].max}px\""
    cell << " data-start=\"#{clock(p[:start] - day_start, 24)}\""
    # One line: the popup wraps it to its own width.
    cell << " data-desc=\"#{h(details.join(' ').gsub(/\s+/, ' '))}\"" unless details.empty?
    cell << "><div class=\"inner\"><span class=\"title\">#{h(p[:title])}</span>"
    cell << "<br><span class=\"subtitle\">#{h(p[:sub_title])}</span>" unless p[:sub_title].empty?
    cell << "<br><span class=\"time\">#{h(times)}</span>"
    cell << " <span class=\"rating\">#{h(p[:rating])}</span>" unless p[:rating].empty?
    cell << '</div></div>'
    row << cell
  end
  row << '</div></div>'
  out << row.join
end

out << '</div>'
out << '</body></html>'
$stdout.write(out.join("\n") + "\n")
