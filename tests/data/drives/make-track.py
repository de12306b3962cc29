#!/usr/bin/env python3
# Writes track.nmea and track-sensors.txt (run from the repository root): four laps of the demo
# track past seven sensors, at 10 fixes/s, at 1 fix/s with fixes 36 m apart, at 10 fixes/s
# under quality 0 past sensor 2 with a gap past sensor 3, and at 5 fixes/s. Sensor 4 stands on
# the wrong side, sensor 5 12 m off the road, sensor 6 has the mistyped node id 40A1C2DG.
import math
R=6371008.8
W=[(52.240000,6.850000),(52.240000,6.855875),(52.241349,6.855875),(52.241349,6.850000)]
def leglen(a,b):
    m=(a[0]+b[0])/2*math.pi/180
    n=(b[0]-a[0])*math.pi/180*R; e=(b[1]-a[1])*math.pi/180*R*math.cos(m)
    return math.hypot(n,e)
legs=[(W[i],W[(i+1)%4],leglen(W[i],W[(i+1)%4])) for i in range(4)]
L=sum(l[2] for l in legs)
def pos(d):
    d%=L
    for a,b,l in legs:
        if d<=l:
            t=d/l; return (a[0]+t*(b[0]-a[0]), a[1]+t*(b[1]-a[1]))
        d-=l
    return W[0]
def offset(p,north,east):
    dlat=north/R*180/math.pi; dlon=east/(R*math.cos(p[0]*math.pi/180))*180/math.pi
    return (p[0]+dlat,p[1]+dlon)
sensors=[(100,4,4,"S1","4070BF7B"),(300,4,4,"S2","403BA38B"),(620,4,4,"S3","40A1C2D3"),
         (200,-4,-4,"S4","40A00004"),(250,12,0,"S5","40A00005"),(800,4,4,"S6","40A1C2DG"),(1000,4,4,"S7","40B4C5D6")]
with open("tests/data/drives/track-sensors.txt","w") as f:
    for along,n,e,name,node in sensors:
        la,lo=offset(pos(along),n,e)
        f.write("%.7f %.7f %s %s\n"%(la,lo,name,node))
def minutes(deg,width):
    w=int(deg); return "%0*d%09.6f"%(width,w,(deg-w)*60)
out=[]
def fix(t,p,q):
    cs=int(round(t*100))%8640000
    body="GPGGA,%02d%02d%02d.%02d,%s,N,%s,E,%d,08,0.9,100.0,M,46.9,M,,"%(cs//360000,cs//6000%60,cs//100%60,cs%100,minutes(p[0],2),minutes(p[1],3),q,)
    if q==0: body="GPGGA,%02d%02d%02d.%02d,%s,N,%s,E,0,00,99.9,100.0,M,46.9,M,,"%(cs//360000,cs//6000%60,cs//100%60,cs%100,minutes(p[0],2),minutes(p[1],3))
    s=0
    for c in body: s^=ord(c)
    out.append("$%s*%02X\r\n"%(body,s))
t=10*3600.0
d=0.0
# lap 1: 10 Hz, 13.9 m/s
def drive(length,speed,rate,q=lambda d:1,skip=lambda d:False):
    global t,d
    end=d+length
    while d<end:
        if not skip(d%L): fix(t,pos(d),q(d%L))
        t+=1.0/rate; d+=speed/rate
drive(L,13.9,10)
drive(L,36.0,1)                     # lap 2: fixes 36 m apart
drive(L,13.9,10,q=lambda a: 0 if 250<=a<=350 else 1, skip=lambda a: 590<=a<=700)  # lap 3: quality 0 past S2, a gap past S3
drive(L,13.9,5)                     # lap 4: 5 Hz
open("tests/data/drives/track.nmea","w",newline="").write("".join(out))
print(len(out),"fixes")
