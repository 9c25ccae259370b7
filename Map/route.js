// The route drawing shared by the map pages. The player drives a page with four
// calls: initGpsInfo(), addAddress(lat, lng) once per fix, showPolyline() and
// play(index). A click on the route (or within a finger's width of it) goes back to
// the player as routeClicked(lat, lng) on the "routeBridge" object of the page's web
// channel, when the page has one. Everything here is drawn with the Leaflet copy beside the page,
// so the route, the marker and the scale bar work without a network; the tile
// layer a page passes in only adds the map underneath when one is reachable.
(function () {
    'use strict';

    // printf writes non-finite numbers as nan, -nan and inf; give those names a
    // value so such a call reaches addAddress (which drops it) instead of
    // throwing a ReferenceError.
    window.nan = NaN;
    window.inf = Infinity;

    window.createRouteMap = function (options) {
        var map = L.map('map', {
            crs: options.crs || L.CRS.EPSG3857,
            minZoom: options.minZoom,
            maxZoom: options.maxZoom,
            worldCopyJump: false
        });
        map.setView(options.center, options.zoom);
        map.attributionControl.setPrefix(false);
        L.control.scale({ metric: true, imperial: true }).addTo(map);
        if (options.tiles)
            options.tiles.addTo(map);

        var points = [];
        var line = null;
        // Wider than the line and invisible: what a click on the route hits.
        var hitLine = null;
        var bridge = null;
        if (typeof qt !== 'undefined' && qt.webChannelTransport && typeof QWebChannel !== 'undefined')
            new QWebChannel(qt.webChannelTransport, function (channel) {
                bridge = channel.objects.routeBridge || null;
            });
        var ends = [];
        var marker = null;
        var markerIndex = -1;
        // The view follows the route until the user moves it himself; then a
        // resize of the window no longer refits it.
        var autoFit = false;

        function forgetRoute() {
            if (line)
                map.removeLayer(line);
            if (hitLine)
                map.removeLayer(hitLine);
            hitLine = null;
            ends.forEach(function (layer) { map.removeLayer(layer); });
            if (marker)
                map.removeLayer(marker);
            line = null;
            ends = [];
            marker = null;
            markerIndex = -1;
        }

        function fitRoute() {
            if (points.length === 0)
                return;
            if (points.length === 1 || L.latLngBounds(points).getNorthEast()
                    .equals(L.latLngBounds(points).getSouthWest()))
                map.setView(points[0], options.pointZoom);
            else
                map.fitBounds(L.latLngBounds(points), { padding: [24, 24], maxZoom: options.pointZoom });
        }

        map.on('dragstart', function () { autoFit = false; });
        map.getContainer().addEventListener('wheel', function () { autoFit = false; });
        map.getContainer().addEventListener('dblclick', function () { autoFit = false; });
        map.zoomControl.getContainer().addEventListener('click', function () { autoFit = false; });
        map.on('resize', function () {
            if (autoFit)
                fitRoute();
        });

        window.initGpsInfo = function () {
            forgetRoute();
            points = [];
            autoFit = false;
        };

        window.addAddress = function (lat, lng) {
            lat = Number(lat);
            lng = Number(lng);
            if (!isFinite(lat) || !isFinite(lng))
                return;
            points.push(L.latLng(lat, lng));
        };

        window.showPolyline = function () {
            if (line)
                map.removeLayer(line);
            if (hitLine)
                map.removeLayer(hitLine);
            hitLine = null;
            ends.forEach(function (layer) { map.removeLayer(layer); });
            ends = [];
            line = null;
            if (points.length === 0)
                return;
            line = L.polyline(points, { color: '#1e6fd9', weight: 4, opacity: 0.85 }).addTo(map);
            hitLine = L.polyline(points, { weight: 24, opacity: 0, interactive: true }).addTo(map);
            hitLine.on('click', function (e) {
                L.DomEvent.stopPropagation(e);
                window.__lastClick = [e.latlng.lat, e.latlng.lng];
                if (bridge)
                    bridge.routeClicked(e.latlng.lat, e.latlng.lng);
            });
            ends.push(L.circleMarker(points[0], {
                radius: 5, color: '#ffffff', weight: 2, fillColor: '#2e9d3a', fillOpacity: 1,
                interactive: false
            }).addTo(map));
            if (points.length > 1)
                ends.push(L.circleMarker(points[points.length - 1], {
                    radius: 5, color: '#ffffff', weight: 2, fillColor: '#c62828', fillOpacity: 1,
                    interactive: false
                }).addTo(map));
            if (marker)
                marker.bringToFront();
            autoFit = true;
            fitRoute();
        };

        window.play = function (index) {
            if (points.length === 0)
                return;
            index = Math.floor(Number(index));
            if (!isFinite(index) || index < 0)
                index = 0;
            index = Math.min(index, points.length - 1);
            var where = points[index];
            if (!marker)
                marker = L.circleMarker(where, {
                    radius: 8, color: '#ffffff', weight: 3, fillColor: '#e65100', fillOpacity: 1,
                    interactive: false
                }).addTo(map);
            else
                marker.setLatLng(where);
            marker.bringToFront();
            markerIndex = index;
            if (!map.getBounds().contains(where))
                map.panTo(where);
        };

        // Read-back for tests: what the page holds, as plain values.
        window.__state = function () {
            var at = marker ? marker.getLatLng() : null;
            return {
                points: points.map(function (p) { return [p.lat, p.lng]; }),
                line: line ? line.getLatLngs().length : 0,
                marker: markerIndex,
                markerAt: at ? [at.lat, at.lng] : null,
                markerInView: at ? map.getBounds().contains(at) : false,
                zoom: map.getZoom()
            };
        };

        // Left reachable so a user (or a test) can script the view.
        window.routeMap = map;
        return map;
    };
})();
