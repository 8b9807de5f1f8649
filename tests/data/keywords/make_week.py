#!/usr/bin/python3
# Writes a week of TGD day files (2007-03-12 to 2007-03-18) for the keyword tests.
# Invented schedule in the shape of a regional guide; rerun to regenerate.
import datetime, random

rng = random.Random(20070312)
channels = {
    "2": [("ABC News", "[News]", 30, "G"), ("Catalyst", "Science on the edge [Documentary]", 30, "G"),
          ("Four Corners", " [Current Affairs]", 60, "M"), ("The Bill", "Sun Hill blues [Drama]", 60, "M"),
          ("Doctor Who", "The Empty Child [Drama] [Science Fiction]", 60, "PG"), ("Rage", " [Music]", 120, "M"),
          ("Gardening Australia", " [Lifestyle]", 30, "G"), ("Play School", " [Children]", 30, "G")],
    "3": [("SBS World News", " [News]", 60, "G"), ("Café Society", "Paris in spring [Film]", 120, "M"),
          ("Mythbusters", "Exploding jawbreaker [Documentary]", 60, "PG"), ("Insight", " [Current Affairs]", 60, "PG"),
          ("The World Game", " [Sport]", 60, "G"), ("Jamie Oliver's Kitchen", " [Cooking]", 30, "G")],
    "1,10": [("Neighbours", "Ramsay Street [Drama]", 30, "PG"), ("The Simpsons", "Bart the genius [Comedy]", 30, "PG"),
             ("Ten News", " [News]", 60, "G"), ("Rove Live", " [Entertainment]", 60, "M"),
             ("Law & Order", "Gunshot [Drama]", 60, "M"), ("Bondi Rescue", " [Reality]", 30, "PG")],
    "7": [("Home and Away", "Summer Bay [Drama]", 30, "PG"), ("Seven News", " [News]", 60, "G"),
          ("Today Tonight", " [Current Affairs]", 30, "PG"), ("Lost", "Exodus [Drama]", 60, "M"),
          ("Border Security", " [Documentary]", 30, "PG"), ("The Great Outdoors", " [Travel]", 60, "G")],
    "9": [("Nine News", " [News]", 60, "G"), ("A Current Affair", " [Current Affairs]", 30, "PG"),
          ("CSI: Crime Scene Investigation", "Grave danger [Drama]", 60, "M"), ("The Footy Show", " [Sport]", 90, "M"),
          ("Getaway", " [Travel]", 30, "G"), ("Random Acts", " [Comedy]", 30, "PG")],
    "21": [("Rollercoaster", " [Children]", 60, "G"), ("Media Watch", " [Current Affairs]", 30, "PG"),
           ("Spicks and Specks", " [Music]", 30, "PG"), ("Stateline", " [News]", 30, "G")],
    "6,61": [("Prime News", " [News]", 30, "G"), ("Home and Away", "Summer Bay [Drama]", 30, "PG"),
             ("Lost", "Exodus [Drama]", 60, "M"), ("Movie: The Castle", " [Film]", 120, "PG")],
    "Channel 31": [("Community Voices", " [Community]", 60, "G"), ("Vasily's Garden", " [Lifestyle]", 30, "G")],
}
descriptions = ["A look at the day's events.", "Drama unfolds as secrets are revealed.",
                "Guests join the panel for a lively discussion.", "Thé première: a très spéciale night.",
                "Repeat.", ""]

for offset in range(7):
    day = datetime.date(2007, 3, 12) + datetime.timedelta(days=offset)
    lines = []
    for channel, shows in channels.items():
        t = datetime.datetime.combine(day, datetime.time(6, 0))
        end = datetime.datetime.combine(day, datetime.time(23, 59))
        i = offset
        while t <= end:
            title, sub, dur, rating = shows[(i * 7 + rng.randrange(3)) % len(shows)]
            i += 1
            desc = descriptions[(i + offset) % len(descriptions)]
            lines.append("\t".join([channel, t.strftime("%Y-%m-%d %H:%M"), str(dur), title, sub,
                                    desc, rating, "N"]))
            t += datetime.timedelta(minutes=dur)
    with open(day.strftime("%Y%m%d") + ".tgd", "wb") as f:
        f.write(("\n".join(lines) + "\n").encode("latin-1"))
